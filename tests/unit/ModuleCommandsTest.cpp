#include <gtest/gtest.h>

#include "orba/Plugin.h"
#include "support/RecordingModule.h"

using Calls = std::vector<std::string>;

namespace {

void run(const std::string& text) { TriggerOrbaThirdPartyTrackerEventCallbackFunc(text.c_str()); }

class ModuleCommandsTest : public ::testing::Test {
protected:
    bool enabled() const { return ORBA::pluginState().trackerEnabled; }
    OrbaTest::PluginStateGuard guard;
    OrbaTest::CallLog& log = *guard.log;
};

TEST_F(ModuleCommandsTest, OnlyTheBooleanFalseSelectsThePlainPcModule) {
    run(R"({"event":"InitTracker","body":{"isSteam":false}})");
    run(R"({"event":"InitTracker","body":{"isSteam":true}})");
    run(R"({"event":"InitTracker","body":{}})");
    run(R"({"event":"InitTracker","body":{"isSteam":"false"}})");
    run(R"({"event":"InitTracker","body":{"isSteam":0}})");
    run(R"({"event":"InitTracker","body":"text"})");
    EXPECT_EQ(log.calls, (Calls{
        "native#1 init", "native#1 startSession(false)",
        "native#1 destroyed", "steam#2 init", "steam#2 startSession(false)",
        "steam#2 destroyed", "steam#3 init", "steam#3 startSession(false)",
        "steam#3 destroyed", "steam#4 init", "steam#4 startSession(false)",
        "steam#4 destroyed", "steam#5 init", "steam#5 startSession(false)",
        "steam#5 destroyed", "steam#6 init", "steam#6 startSession(false)"}));
}

TEST_F(ModuleCommandsTest, InitTrackerInstallsTheNewModuleBeforeDestroyingTheOld) {
    run(R"({"event":"InitTracker","body":{"isSteam":false}})");
    ORBA::IOndrixModule* first = ORBA::pluginState().activeModule.get();
    run(R"({"event":"InitTracker","body":{"isSteam":false,"did":"x","config":{"appId":"second"}}})");
    EXPECT_NE(ORBA::pluginState().activeModule.get(), first);
    EXPECT_EQ(log.modulesMade, 2);
    ASSERT_EQ(log.initConfigs.size(), 2u);
    EXPECT_EQ(log.initConfigs[1].appId, "second");
}

TEST_F(ModuleCommandsTest, SuccessfulInitStartsTheSessionThenSetsContextAndGate) {
    run(R"({"event":"InitTracker","body":{"isSteam":false,"appId":"host-app","did":"d","config":{"appId":"a"}}})");
    EXPECT_TRUE(enabled());
    EXPECT_EQ(ORBA::sharedContext()->appId, "host-app");
    EXPECT_EQ(ORBA::sharedContext()->did, "d");
    EXPECT_EQ(log.calls, (Calls{"native#1 init", "native#1 startSession(false)"}));
}

TEST_F(ModuleCommandsTest, FailedInitLeavesGateContextAndModule) {
    log.initResult = false;
    ORBA::sharedContext()->did = "kept";
    run(R"({"event":"InitTracker","body":{"isSteam":false,"did":"new"}})");
    EXPECT_FALSE(enabled());
    EXPECT_EQ(ORBA::sharedContext()->did, "kept");
    EXPECT_NE(ORBA::pluginState().activeModule, nullptr);
    run(R"({"event":"SendEvent","body":{"eventName":"e"}})");
    EXPECT_EQ(log.calls, (Calls{"native#1 init"}));

    run(R"({"event":"InitTracker"})");  // no body: nothing changes
    EXPECT_EQ(log.modulesMade, 1);
}

TEST_F(ModuleCommandsTest, AccountChangesHoldSetAndStart) {
    run(R"({"event":"InitTracker","body":{}})");
    log.calls.clear();
    run(R"({"event":"SuccessSignIn","body":{"data":{"accountId":"p1"}}})");
    run(R"({"event":"PlayerChange","body":{"data":{"accountId":"p2"}}})");
    run(R"({"event":"SuccessSignOut"})");
    EXPECT_EQ(log.calls, (Calls{
        "steam#1 holdSession", "steam#1 setCustomerUserId(p1)", "steam#1 startSession(true)",
        "steam#1 holdSession", "steam#1 setCustomerUserId(p2)", "steam#1 startSession(true)",
        "steam#1 holdSession", "steam#1 setCustomerUserId()", "steam#1 startSession(true)"}));
}

TEST_F(ModuleCommandsTest, AccountChangesWithoutAnAccountIdCallNothing) {
    run(R"({"event":"InitTracker","body":{}})");
    log.calls.clear();
    for (const char* text : {
             R"({"event":"SuccessSignIn"})",
             R"({"event":"SuccessSignIn","body":"x"})",
             R"({"event":"SuccessSignIn","body":{}})",
             R"({"event":"SuccessSignIn","body":{"data":{}}})",
             R"({"event":"SuccessSignIn","body":{"data":{"accountId":""}}})",
             R"({"event":"SuccessSignIn","body":{"data":{"accountId":7}}})",
             R"({"event":"PlayerChange","body":{"data":"p"}})",
         }) {
        run(text);
    }
    EXPECT_TRUE(log.calls.empty());
}

}  // namespace
