// The tracker end to end: command texts in, signed HTTPS requests at the local collector, the
// identity in the real store (the registry under Wine, a state file under a temporary folder on
// Linux).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "orba/Plugin.h"
#include "platform/IdentityStore.h"
#include "support/Collector.h"
#include "support/FakeSteam.h"
#include "support/RecordingModule.h"
#include "tracker/SteamApi.h"

namespace {

void run(const std::string& text) { TriggerOrbaThirdPartyTrackerEventCallbackFunc(text.c_str()); }

class TrackerE2ETest : public OrbaTest::CollectorTest {
protected:
    void SetUp() override {
        OrbaTest::CollectorTest::SetUp();
        if (IsSkipped()) return;
#ifndef _WIN32
        // Keep the identity of these runs out of the user's own state folder.
        stateFolder_ = testing::TempDir() + "orba-e2e-state-" + OrbaTest::uniqueMarker();
        const char* previous = std::getenv("XDG_STATE_HOME");
        previousState_ = previous != nullptr ? previous : "";
        hadState_ = previous != nullptr;
        setenv("XDG_STATE_HOME", stateFolder_.c_str(), 1);
#endif
        appId_ = "e2e-" + OrbaTest::uniqueMarker();
    }
    void TearDown() override {
#ifndef _WIN32
        if (hadState_) {
            setenv("XDG_STATE_HOME", previousState_.c_str(), 1);
        } else {
            unsetenv("XDG_STATE_HOME");
        }
        if (!stateFolder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(stateFolder_, ignored);
        }
#endif
        OrbaTest::CollectorTest::TearDown();
    }

    std::string config(const std::string& appId, const std::string& extra = "") const {
        return R"({"devKey":")" + collector_.settings().devKey + R"(","appId":")" + appId +
               R"(","appVersion":"2.1.0","endpoint":")" + collector_.settings().url +
               R"(","caFile":")" + collector_.settings().caFile + "\"" + extra + "}";
    }
    std::string initNative(const std::string& extra = "") const {
        return R"({"event":"InitTracker","body":{"isSteam":false,"did":"dev-1","config":)" +
               config(appId_, extra) + "}}";
    }
    std::string counter(const std::string& appId) const {
        return ORBA::Platform::readIdentityValue("ZQ_counter_" + appId, 2048);
    }
    // The recorded requests of this test's app, in order.
    std::vector<nlohmann::json> requests() const {
        std::vector<nlohmann::json> mine;
        for (auto& line : collector_.recorded()) {
            const std::string path = line["path"];
            if (path.size() > appId_.size() && path.compare(path.size() - appId_.size(), appId_.size(), appId_) == 0) {
                mine.push_back(line);
            }
        }
        return mine;
    }
    static nlohmann::json body(const nlohmann::json& line) {
        return nlohmann::json::parse(line["body"].get<std::string>());
    }

    OrbaTest::PluginStateGuard guard_{false};
    std::string appId_;
#ifndef _WIN32
    std::string stateFolder_;
    std::string previousState_;
    bool hadState_ = false;
#endif
};

TEST_F(TrackerE2ETest, LaunchesAreCountedOnlyWhenAccepted) {
    run(initNative());
    EXPECT_EQ(counter(appId_), "1");
    const std::string uuid = ORBA::Platform::readIdentityValue("ZQ_uuid_" + appId_, 2048);
    EXPECT_EQ(uuid.size(), 36u);

    collector_.setStatus(200);
    run(initNative());
    collector_.setStatus(500);
    run(initNative());
    EXPECT_EQ(counter(appId_), "1");
    collector_.setStatus(202);
    run(initNative());
    run(initNative());

    const auto lines = requests();
    ASSERT_EQ(lines.size(), 5u);
    const char* expected[] = {"first_open", "first_open", "first_open", "first_open", "session"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["path"], std::string("/v1.0/c2s/") + expected[i] + "/app/nativepc/" + appId_);
        EXPECT_EQ(lines[i]["user_agent"], "Native PC/HTTP Client 1.0 (" + appId_ + ")");
        EXPECT_EQ(lines[i]["content_type"], "application/json");
        EXPECT_EQ(lines[i]["signature_ok"], true);
        EXPECT_EQ(body(lines[i])["device_ids"][0]["value"], uuid);
        EXPECT_EQ(body(lines[i])["app_version"], "2.1.0");
    }
    EXPECT_EQ(lines[1]["status"], 200);
    EXPECT_EQ(lines[2]["status"], 500);
    EXPECT_EQ(counter(appId_), "3");
}

TEST_F(TrackerE2ETest, AccountsAndEventsReachTheService) {
    run(initNative());
    run(R"({"event":"SetCommonContext","body":{"did":"dev-1","appId":"host","analyticsId":"an","serverId":"s1","orbaCountry":"KR"}})");
    run(R"({"event":"SuccessSignIn","body":{"data":{"accountId":"player-\u00e9"}}})");
    run(R"({"event":"SendEvent","body":{"eventName":"level_up","customAttributes":{"level":3,"hero":"mage"}}})");
    run(R"({"event":"SendRevenueEvent","body":{"data":{"revenue":4.99,"currency":"USD","itemCount":2,"itemDescription":"gem pack","refId":"r-1","pid":"gems_100","title":"gems"}}})");
    run(R"({"event":"SuccessSignOut"})");
    run(R"({"event":"SendEvent","body":{"eventName":"quit"}})");

    const auto lines = requests();
    ASSERT_EQ(lines.size(), 6u);
    for (const auto& line : lines) EXPECT_EQ(line["signature_ok"], true);
    EXPECT_FALSE(body(lines[0]).contains("customer_user_id"));
    EXPECT_EQ(body(lines[1])["customer_user_id"], "player-\xC3\xA9");
    const nlohmann::json levelUp = body(lines[2]);
    EXPECT_EQ(lines[2]["path"], "/v1.0/c2s/inapp/app/nativepc/" + appId_);
    EXPECT_EQ(levelUp["event_name"], "level_up");
    EXPECT_EQ(levelUp["event_parameters"], nlohmann::json::object());
    EXPECT_EQ(levelUp["event_custom_parameters"].dump(),
              R"({"analyticsId":"an","appId":"host","customAttributes":{"hero":"mage","level":3},)"
              R"("did":"dev-1","orbaCountry":"KR","serverId":"s1"})");
    EXPECT_EQ(levelUp["customer_user_id"], "player-\xC3\xA9");
    const std::string purchase = lines[3]["body"];
    EXPECT_NE(purchase.find(R"("event_parameters":{"custsom_product_id":"gems_100","zq_content":"gem pack",)"
                            R"("zq_content_type":"gems","zq_currency":"USD","zq_quantity":2,)"
                            R"("zq_receipt_id":"r-1","zq_revenue":4.99},"event_name":"zq_purchase",)"),
              std::string::npos)
        << purchase;
    EXPECT_FALSE(body(lines[4]).contains("customer_user_id"));
    EXPECT_FALSE(body(lines[5]).contains("customer_user_id"));
}

// Requests share a kept connection: a start and twenty events need at most two TLS handshakes
// (one more when the server closed the idle connection in between), not one each.
TEST_F(TrackerE2ETest, RequestsShareOneConnection) {
    const long before = collector_.counter("tls_handshakes");
    ASSERT_GE(before, 0);
    run(initNative());
    for (int i = 0; i < 20; ++i) {
        run(R"({"event":"SendEvent","body":{"eventName":"e)" + std::to_string(i) + R"("}})");
    }
    EXPECT_LE(collector_.counter("tls_handshakes") - before, 2);
    const auto lines = requests();
    ASSERT_EQ(lines.size(), 21u);
    for (const auto& line : lines) EXPECT_EQ(line["status"], 202);
}

TEST_F(TrackerE2ETest, UnreachableOrUntrustedServersAcceptNothing) {
    // A port nothing listens on: the collector's own port with the last digit changed is not
    // guaranteed free, so use the discard port.
    run(R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"k","appId":")" + appId_ +
        R"(","endpoint":"https://localhost:9"}}})");
    EXPECT_EQ(counter(appId_), "0");
    // The collector's certificate without the authority that signed it.
    run(R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"k","appId":")" + appId_ +
        R"(","endpoint":")" + collector_.settings().url + R"("}}})");
    EXPECT_EQ(counter(appId_), "0");
    // Wine lets the request's head out before the certificate check closes it, so the collector
    // may see an unsigned fragment; it must never have accepted one.
    for (const auto& line : requests()) EXPECT_NE(line["status"], 202) << line.dump();
}

TEST_F(TrackerE2ETest, SteamGameReportsUnderItsSteamAppId) {
    OrbaTest::FakeSteam steam;
    ASSERT_TRUE(steam.loaded());
    const std::uint32_t steamAppId = 100000 + static_cast<std::uint32_t>(std::hash<std::string>()(appId_) % 800000);
    steam.configure(0, steamAppId, 4711, 76561197960287930ULL);
    appId_ = std::to_string(steamAppId);
    run(R"({"event":"InitTracker","body":{"config":)" + config("999") + "}}");
    run(R"({"event":"SuccessSignIn","body":{"data":{"accountId":"p"}}})");
    run(R"({"event":"SendEvent","body":{"eventName":"e"}})");

    const auto lines = requests();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["path"], "/v1.0/c2s/first_open/app/steam/" + appId_);
    EXPECT_EQ(lines[0]["user_agent"], "SteamLauncher/HTTP Client 1.0 (" + appId_ + ")");
    EXPECT_EQ(lines[1]["path"], "/v1.0/c2s/inapp/app/steam/" + appId_);
    for (const auto& line : lines) {
        EXPECT_EQ(line["signature_ok"], true);
        const nlohmann::json sent = body(line);
        EXPECT_EQ(sent["app_version"], "4711");
        ASSERT_EQ(sent["device_ids"].size(), 2u);
        EXPECT_EQ(sent["device_ids"][1]["type"], "steamid");
        EXPECT_EQ(sent["device_ids"][1]["value"], "76561197960287930");
    }
    EXPECT_EQ(body(lines[1])["customer_user_id"], "p");
    EXPECT_EQ(counter(appId_), "1");
}

TEST_F(TrackerE2ETest, SteamWithoutARunningSteamFallsBackOrStaysOff) {
    OrbaTest::FakeSteam steam;
    ASSERT_TRUE(steam.loaded());
    steam.configure(1, 0, 0, 0);  // the Steam API does not start
    run(R"({"event":"InitTracker","body":{"config":)" + config("") + "}}");
    EXPECT_FALSE(ORBA::pluginState().trackerEnabled);  // "appId" alone is not a Steam app id

    const std::string configured = appId_;
    const std::string initConfigured =
        R"({"event":"InitTracker","body":{"config":{"devKey":")" + collector_.settings().devKey +
        R"(","steamAppId":")" + configured + R"(","endpoint":")" + collector_.settings().url +
        R"(","caFile":")" + collector_.settings().caFile + R"("}}})";
    run(initConfigured);
    ORBA::SteamApi::instance().reload("no-such-steam-library");
    run(initConfigured);
    run(initConfigured);

    const auto lines = requests();
    ASSERT_EQ(lines.size(), 3u);
    const char* kinds[] = {"first_open", "first_open", "session"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["path"], std::string("/v1.0/c2s/") + kinds[i] + "/app/steam/" + configured);
        EXPECT_EQ(lines[i]["signature_ok"], true);
        EXPECT_EQ(body(lines[i])["app_version"], "");
        EXPECT_EQ(body(lines[i])["device_ids"].size(), 1u);
    }
    EXPECT_EQ(counter(configured), "3");
}

TEST_F(TrackerE2ETest, SteamBuildIdMayBeNegative) {
    OrbaTest::FakeSteam steam;
    ASSERT_TRUE(steam.loaded());
    const std::uint32_t steamAppId = 100000 + static_cast<std::uint32_t>(std::hash<std::string>()(appId_ + "n") % 800000);
    steam.configure(0, steamAppId, -42, 1);
    appId_ = std::to_string(steamAppId);
    run(R"({"event":"InitTracker","body":{"config":)" + config("") + "}}");
    const auto lines = requests();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(body(lines[0])["app_version"], "-42");
    EXPECT_EQ(body(lines[0])["device_ids"][1]["value"], "1");
}

}  // namespace
