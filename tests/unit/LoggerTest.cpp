#include "orba/Logger.h"

#include <gtest/gtest.h>

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

TEST_F(LoggerTest, IllFormedTextIsWrittenRawWithTheConversionError) {
    DebugOutputCapture capture;
    Log("bad\x80text", true);
    EXPECT_EQ(capture.finish(), "bad\x80text[Loogger] Exception Occur! : bad conversion\n");
}

}  // namespace
