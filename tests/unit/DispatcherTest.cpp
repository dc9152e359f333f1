#include <chrono>
#include <stdexcept>

#include <gtest/gtest.h>

#include "orba/Logger.h"
#include "orba/Plugin.h"
#include "support/DebugOutputCapture.h"
#include "support/RecordingModule.h"

using OrbaTest::DebugOutputCapture;
using Calls = std::vector<std::string>;

namespace {

void run(const std::string& text) { TriggerOrbaThirdPartyTrackerEventCallbackFunc(text.c_str()); }

class DispatcherTest : public ::testing::Test {
protected:
    bool enabled() const { return ORBA::pluginState().trackerEnabled; }
    OrbaTest::PluginStateGuard guard;
    OrbaTest::CallLog& log = *guard.log;
};

TEST_F(DispatcherTest, InterfaceRecordIsOneFixedCallback) {
    const ORBA::OrbaPluginInterface* first = createOrbaPluginInterface();
    EXPECT_EQ(first, createOrbaPluginInterface());
    EXPECT_EQ(first->triggerEventCallback, &TriggerOrbaThirdPartyTrackerEventCallbackFunc);
    EXPECT_EQ(sizeof(ORBA::OrbaPluginInterface), sizeof(void*));
}

TEST_F(DispatcherTest, GatedCommandsWaitForTheGateSilentlyAndUnknownOnesAreTold) {
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    DebugOutputCapture capture;
    run(R"({"event":"SendEvent","body":{"eventName":"e"}})");
    run(R"({"event":"SetCommonContext","body":{"did":"d"}})");
    run(R"({"event":"SuccessSignOut"})");
    run(R"({"event":"SetEnable","body":{"enable":"true"}})");
    EXPECT_FALSE(enabled());
    EXPECT_EQ(capture.finish(), "");

    // Not commands at all: told whatever the gate's state, with the spelling meant.
    DebugOutputCapture told;
    run(R"([1,2,3])");
    run(R"({"event":"initTracker","body":{"isSteam":false,"config":{"appId":"a"}}})");
    run(R"({"event":"Launch"})");
    EXPECT_EQ(told.finish(),
              "Command not run: it has no \"event\" name\n"
              "Command \"initTracker\" not run: command names are case-sensitive; did you mean "
              "\"InitTracker\"?\n"
              "Command \"Launch\" not run: no such command\n");
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(ORBA::sharedContext()->did, "");
}

TEST_F(DispatcherTest, SetEnableOpensAndClosesTheGate) {
    run(R"({"event":"SetEnable","body":{"enable":true}})");
    EXPECT_TRUE(enabled());
    run(R"({"event":"SetCommonContext","body":{"did":"d"}})");
    EXPECT_EQ(ORBA::sharedContext()->did, "d");
    run(R"({"event":"SetEnable","body":{"enable":false}})");
    EXPECT_FALSE(enabled());
    run(R"({"event":"SetEnable"})");
    run(R"({"event":"SetEnable","body":{}})");
    EXPECT_FALSE(enabled());
}

TEST_F(DispatcherTest, GatedCommandsWithoutAModuleDoNothing) {
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    run(R"({"event":"SetEnable","body":{"enable":true}})");
    DebugOutputCapture capture;
    run(R"({"event":"SendEvent","body":{"eventName":"e"}})");
    run(R"({"event":"SendRevenueEvent","body":{"data":{}}})");
    run(R"({"event":"SuccessSignIn","body":{"data":{"accountId":"p"}}})");
    run(R"({"event":"PlayerChange","body":{"data":{"accountId":"p"}}})");
    run(R"({"event":"SuccessSignOut"})");
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(log.modulesMade, 0);
}

// A command text may hold a dev key: a parse error is logged as what went wrong and where, never
// with any of the text, wherever in the text the error comes.
TEST_F(DispatcherTest, ParseErrorsAreLoggedWithoutTheTextOnlyWhileLoggingIsOn) {
    DebugOutputCapture quiet;
    run("{\"event\":");
    EXPECT_EQ(quiet.finish(), "");

    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    DebugOutputCapture capture;
    run("{\"event\":\"SetEnable\",\"body\":{\"enable\":true}} trailing");
    // The secret in a string before the error, as the last token read, before a byte that is not
    // UTF-8, as the digits of a number too large, and in a text cut short.
    run(R"({"event":"InitTracker","body":{"devKey":"S3CR3T-KEY" "appId":"a"}})");
    run(R"({"event":"InitTracker","body":{"devKey" "S3CR3T-KEY"}})");
    run(R"({"event":"InitTracker","body":{"devKey":S3CR3T-KEY}})");
    run("{\"event\":\"InitTracker\",\"body\":{\"devKey\":\"S3CR3T-KEY\xFF\"}}");
    run(R"({"event":"InitTracker","body":{"devKey":"k","n":7391739173917391e999}})");
    run(R"({"event":"InitTracker","body":{"config":{"appId":"a","devKey":"S3CR3T-KEY)");
    const std::string logged = capture.finish();
    EXPECT_EQ(logged,
              "command text is not valid JSON: syntax error at byte 48\n"
              "command text is not valid JSON: syntax error at byte 60\n"
              "command text is not valid JSON: syntax error at byte 52\n"
              "command text is not valid JSON: syntax error at byte 41\n"
              "command text is not valid JSON: invalid UTF-8 at byte 52\n"
              "command text is not valid JSON: number out of range at byte 68\n"
              "command text is not valid JSON: unexpected end after byte 73\n");
    EXPECT_EQ(logged.find("S3CR3T"), std::string::npos);
    EXPECT_EQ(logged.find("7391"), std::string::npos);
    EXPECT_FALSE(enabled());
}

// Without background delivery there is nothing to wait for, whatever the gate or the timeout.
TEST_F(DispatcherTest, FlushTrackerReturnsAtOnceWithoutBackgroundDelivery) {
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    DebugOutputCapture capture;
    const auto start = std::chrono::steady_clock::now();
    run(R"({"event":"FlushTracker","body":{"timeoutMs":60000}})");
    run(R"({"event":"FlushTracker"})");
    run(R"({"event":"FlushTracker","body":{"timeoutMs":"soon"}})");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(capture.finish(), "FlushTracker: \"timeoutMs\" is not a number; waiting 2000 ms\n");
    EXPECT_FALSE(enabled());
}

TEST_F(DispatcherTest, CommandsOverFourMebibytesAreRefusedUnread) {
    run(R"({"event":"SetEnable","body":{"enable":true}})");
    run(R"({"event":"InitTracker","body":{"isSteam":false}})");
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    const std::string head = R"({"event":"SendEvent","body":{"eventName":"e","customAttributes":["x)";
    const std::string tail = R"("]}})";
    std::string command = head + std::string((4 << 20) - head.size() - tail.size(), 'x') + tail;
    DebugOutputCapture capture;
    run(command);
    command.insert(head.size(), "x");
    run(command);
    EXPECT_EQ(capture.finish(), "Command not run: its text is longer than 4 MiB\n");
    EXPECT_EQ(log.events.size(), 1u);
}

TEST_F(DispatcherTest, NullCommandIsIgnored) {
    TriggerOrbaThirdPartyTrackerEventCallbackFunc(nullptr);
    EXPECT_FALSE(enabled());
}

class ThrowingModule : public ORBA::IOndrixModule {
public:
    explicit ThrowingModule(bool standard) : standard_(standard) {}
    bool init(const ORBA::TrackerConfig&) override { return true; }
    void startSession(bool) override {
        if (standard_) throw std::runtime_error("start failed");
        throw 42;
    }
    void holdSession() override {}
    void setCustomerUserId(const std::string&) override {}
    void sendEvent(const std::string&, nlohmann::json, nlohmann::json, std::string) override {}

private:
    bool standard_;
};

TEST_F(DispatcherTest, NoExceptionCrossesTheBoundary) {
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    for (const bool standard : {true, false}) {
        ORBA::setModuleFactory([standard](bool) -> std::unique_ptr<ORBA::IOndrixModule> {
            return std::make_unique<ThrowingModule>(standard);
        });
        DebugOutputCapture capture;
        run(R"({"event":"InitTracker","body":{"did":"d","config":{"steamAppId":"1"}}})");
        EXPECT_EQ(capture.finish(),
                  standard ? "start failed\n" : "Unknown exception in tracker command\n");
        // Abandoned at the throw: the context and the gate are untouched, the module stays.
        EXPECT_FALSE(enabled());
        EXPECT_EQ(ORBA::sharedContext()->did, "");
        EXPECT_NE(ORBA::pluginState().activeModule, nullptr);
    }
}

}  // namespace
