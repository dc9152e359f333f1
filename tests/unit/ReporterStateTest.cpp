// Module state across init, session and account commands. Starting a session stores an identity
// and posts first_open, so every test runs against the fake services.
#include <gtest/gtest.h>

#include "plugin/JsonValue.h"
#include "plugin/TrackerContext.h"
#include "support/FakeTrackerServices.h"
#include "tracker/NativeModule.h"
#include "tracker/SteamModule.h"

using ORBA::parseCommandText;

// The configuration InitTracker reads from `body`.
ORBA::TrackerConfig config(const char* body) { return ORBA::readTrackerConfig(parseCommandText(body)); }

namespace {

class ReporterStateTest : public ::testing::Test {
protected:
    OrbaTest::FakeTrackerServices fake;
};

TEST_F(ReporterStateTest, NativeInitNeedsAnAppIdAndLeavesTheReporterOtherwise) {
    ORBA::OndrixNativeModuleImpl module(fake.services());
    EXPECT_FALSE(module.init(config(R"({"config":{"devKey":"k","steamAppId":"480"}})")));
    EXPECT_EQ(module.reporter().devKey(), "");
    EXPECT_TRUE(module.reporter().sessionPending());

    ASSERT_TRUE(module.init(config(R"({"config":{"key":"k","appId":"a","appVersion":"1.0"}})")));
    EXPECT_EQ(module.reporter().devKey(), "k");
    EXPECT_EQ(module.reporter().appId(), "a");
    EXPECT_EQ(module.reporter().appVersion(), "1.0");
    EXPECT_TRUE(module.reporter().sessionPending());
}

// The same contract holds for both modules; `Module` is either implementation.
template <typename Module>
void checkSessionContract(std::shared_ptr<const ORBA::TrackerServices> services,
                          const char* initBody) {
    Module module(std::move(services));
    ASSERT_TRUE(module.init(config(initBody)));
    module.setCustomerUserId("while-pending");
    EXPECT_EQ(module.reporter().customerUserId(), "while-pending");
    module.startSession(false);
    EXPECT_FALSE(module.reporter().sessionPending());
    module.setCustomerUserId("ignored");
    EXPECT_EQ(module.reporter().customerUserId(), "while-pending");
    module.holdSession();
    EXPECT_TRUE(module.reporter().sessionPending());
    module.setCustomerUserId("");
    module.startSession(true);
    EXPECT_EQ(module.reporter().customerUserId(), "");
    EXPECT_FALSE(module.reporter().sessionPending());
    // A new init keeps the customer user id.
    module.holdSession();
    module.setCustomerUserId("kept");
    ASSERT_TRUE(module.init(config(initBody)));
    EXPECT_EQ(module.reporter().customerUserId(), "kept");
}

TEST_F(ReporterStateTest, BothModulesKeepTheSessionContract) {
    checkSessionContract<ORBA::OndrixNativeModuleImpl>(fake.services(), R"({"appId":"a"})");
    checkSessionContract<ORBA::OndrixSteamModuleImpl>(fake.services(), R"({"steamAppId":"480"})");
    // The sessions went to the fakes, none to the real store or event host.
    EXPECT_FALSE(fake.requests.empty());
    EXPECT_EQ(fake.store.count("ZQ_uuid_a"), 1u);
    EXPECT_EQ(fake.store.count("ZQ_uuid_480"), 1u);
}

TEST_F(ReporterStateTest, SteamWithoutTheSteamApiUsesTheConfiguredId) {
    ORBA::OndrixSteamModuleImpl module(fake.services());
    EXPECT_FALSE(module.init(config(R"({"config":{"appId":"a","devKey":"k"}})")));
    EXPECT_EQ(module.reporter().devKey(), "");

    ASSERT_TRUE(module.init(config(R"({"config":{"steamAppId":"999","devKey":"k"}})")));
    EXPECT_EQ(module.reporter().appId(), "999");
    EXPECT_EQ(module.reporter().devKey(), "k");
    EXPECT_FALSE(module.reporter().steamIdEnabled());
    EXPECT_TRUE(module.reporter().sessionPending());
}

}  // namespace
