#include "orba/Logger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/LogSink.h"
#include "support/DebugOutputCapture.h"

using ORBA::Core::Logger::Log;
using ORBA::Core::Logger::LogSetting;
using OrbaTest::DebugOutputCapture;

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void TearDown() override { LogSetting::setUseOrbaCoreLog(false); }
};

TEST_F(LoggerTest, SwitchDecidesUnlessForced) {
    EXPECT_FALSE(LogSetting::getUseOrbaCoreLog());
    DebugOutputCapture capture;
    Log("hidden");
    Log("forced", true);
    LogSetting::setUseOrbaCoreLog(true);
    EXPECT_TRUE(LogSetting::getUseOrbaCoreLog());
    Log("shown");
    Log("also shown", false);
    LogSetting::setUseOrbaCoreLog(false);
    Log("hidden again", false);
    EXPECT_EQ(capture.finish(), "forced\nshown\nalso shown\n");
}

TEST_F(LoggerTest, WritesEmptyEmbeddedNulAndNonAsciiLines) {
    DebugOutputCapture capture;
    Log("", true);
    Log(std::string("before\0after", 12), true);
    Log("caf\xC3\xA9", true);
    EXPECT_EQ(capture.finish(), "\nbefore\n" + OrbaTest::wideReadBack("caf\xC3\xA9") + "\n");
}

TEST_F(LoggerTest, LongLinesAreCutAtOneKibibyteOnACharacterBoundary) {
    // Two megabytes of a two-byte character after one ASCII byte, which puts byte 1024 in the
    // middle of a character; without the ASCII byte it starts one.
    std::string eventName = "x";
    for (int i = 0; i < 1 << 20; ++i) eventName += "\xC3\xA9";
    DebugOutputCapture capture;
    Log(eventName, true);
    Log(eventName.substr(1), true);
    EXPECT_EQ(capture.finish(), OrbaTest::wideReadBack(eventName.substr(0, 1023)) + "\n" +
                                    OrbaTest::wideReadBack(eventName.substr(1, 1024)) + "\n");
}

TEST_F(LoggerTest, IllFormedTextIsWrittenRawWithTheConversionError) {
    DebugOutputCapture capture;
    Log("bad\x80text", true);
    EXPECT_EQ(capture.finish(), "bad\x80text[Loogger] Exception Occur! : bad conversion\n");
}

// What a set sink receives, message by message; the default output gets nothing meanwhile and
// everything again once the sink is taken away.
TEST_F(LoggerTest, SetSinkReceivesTheMessagesUntilRemoved) {
    struct RecordingSink final : ORBA::Core::LogSink {
        std::vector<std::string> messages;
        void writeWide(const char16_t* text) noexcept override {
            std::string narrow;
            for (; *text != 0; ++text) narrow.push_back(static_cast<char>(*text));
            messages.push_back("w:" + narrow);
        }
        void writeNarrow(const char* text) noexcept override { messages.push_back(std::string("n:") + text); }
    } sink;
    DebugOutputCapture capture;
    EXPECT_EQ(ORBA::Core::setLogSink(&sink), nullptr);
    Log("kept", true);
    Log("bad\x80", true);
    EXPECT_EQ(ORBA::Core::setLogSink(nullptr), &sink);
    Log("default", true);
    EXPECT_EQ(sink.messages,
              (std::vector<std::string>{"w:kept", "n:\n", "n:bad\x80",
                                        "n:[Loogger] Exception Occur! : bad conversion", "n:\n"}));
    EXPECT_EQ(capture.finish(), "default\n");
}

}  // namespace
