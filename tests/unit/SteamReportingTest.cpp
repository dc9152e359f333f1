// The Steam module against a double of the Steamworks library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "orba/Plugin.h"
#include "plugin/JsonValue.h"
#include "plugin/TrackerContext.h"
#include "support/FakeSteam.h"
#include "support/FakeTrackerServices.h"
#include "support/RecordingModule.h"
#include "tracker/SteamModule.h"

namespace {

void run(const std::string& text) { TriggerOrbaThirdPartyTrackerEventCallbackFunc(text.c_str()); }

const char kInitSteam[] =
    R"({"event":"InitTracker","body":{"config":{"devKey":"dk","steamAppId":"999","appId":"pc","appVersion":"9.9"}}})";
const std::uint64_t kSteamId = 76561197960287930ULL;

class SteamReportingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(steam.loaded()); }
    nlohmann::json body(std::size_t i) const { return nlohmann::json::parse(fake.requests.at(i).body); }
    std::string path(std::size_t i) const {
        const std::string& url = fake.requests.at(i).url;
        return url.substr(url.find("/v1.0/"));
    }

    OrbaTest::FakeTrackerServices fake;
    OrbaTest::PluginStateGuard guard{fake.services()};
    OrbaTest::FakeSteam steam;
};

TEST_F(SteamReportingTest, RunningGameIdentifiesTheRequests) {
    steam.configure(0, 12345, -3, kSteamId);
    const int callbacksBefore = steam.runCallbacksCount();
    run(kInitSteam);
    EXPECT_EQ(steam.runCallbacksCount(), callbacksBefore + 1);
    EXPECT_EQ(steam.lastVersions(), "SteamUtils010|STEAMAPPS_INTERFACE_VERSION008|SteamUser023");
    ASSERT_EQ(fake.requests.size(), 1u);
    EXPECT_EQ(path(0), "/v1.0/c2s/first_open/app/steam/12345");
    EXPECT_EQ(fake.requests[0].userAgent, "SteamLauncher/HTTP Client 1.0 (12345)");
    EXPECT_EQ(fake.requests[0].body,
              R"({"device_ids":[{"type":"custom","value":"uuid-2"},{"type":"steamid","value":"76561197960287930"}],)"
              R"("request_id":"uuid-1","device_os_version":"10.0.19045.3803","device_model":")" +
                  std::string(ORBA::kDeviceModel) + R"(","limit_ad_tracking":false,"app_version":"-3"})");
    EXPECT_EQ(fake.store, (std::map<std::string, std::string>{{"ZQ_counter_12345", "1"},
                                                              {"ZQ_uuid_12345", "uuid-2"}}));
}

TEST_F(SteamReportingTest, AccountChangesReportNoLaunchButLaterEventsCarryTheId) {
    steam.configure(0, 12345, 77, kSteamId);
    run(kInitSteam);
    run(R"({"event":"SuccessSignIn","body":{"data":{"accountId":"player-42"}}})");
    run(R"({"event":"PlayerChange","body":{"data":{"accountId":"player-43"}}})");
    run(R"({"event":"SendRevenueEvent","body":{"data":{"revenue":1.5}}})");
    run(R"({"event":"SuccessSignOut"})");
    run(R"({"event":"SendEvent","body":{"eventName":"quit"}})");
    ASSERT_EQ(fake.requests.size(), 3u);
    EXPECT_EQ(path(1), "/v1.0/c2s/inapp/app/steam/12345");
    EXPECT_EQ(body(1)["customer_user_id"], "player-43");
    EXPECT_EQ(body(1)["app_version"], "77");
    EXPECT_EQ(body(1)["device_ids"][1]["value"], "76561197960287930");
    EXPECT_FALSE(body(2).contains("customer_user_id"));
    EXPECT_EQ(fake.store["ZQ_counter_12345"], "1");

    run(kInitSteam);
    run(kInitSteam);
    EXPECT_EQ(path(3), "/v1.0/c2s/first_open/app/steam/12345");
    EXPECT_EQ(path(4), "/v1.0/c2s/session/app/steam/12345");
}

TEST_F(SteamReportingTest, FailedSteamStartFallsBackToTheConfiguredId) {
    steam.configure(1, 12345, 77, kSteamId);
    run(R"({"event":"InitTracker","body":{"config":{"devKey":"dk","appId":"pc"}}})");
    EXPECT_FALSE(ORBA::pluginState().trackerEnabled);
    EXPECT_TRUE(fake.requests.empty());

    run(kInitSteam);
    ASSERT_EQ(fake.requests.size(), 1u);
    EXPECT_EQ(path(0), "/v1.0/c2s/first_open/app/steam/999");
    EXPECT_EQ(body(0)["app_version"], "");
    EXPECT_EQ(body(0)["device_ids"].size(), 1u);
}

TEST_F(SteamReportingTest, MissingLibraryEntryPointOrInterfaceMeansUnavailable) {
    steam.configure(0, 12345, 77, kSteamId, /*nullInterfaces=*/true);
    run(kInitSteam);
    ORBA::SteamApi::instance().reload(ORBA_FAKE_STEAM_PARTIAL);
    EXPECT_TRUE(ORBA::SteamApi::instance().loaded());
    steam.configure(0, 12345, 77, kSteamId);
    run(kInitSteam);
    ORBA::SteamApi::instance().reload("no-such-steam-library");
    EXPECT_FALSE(ORBA::SteamApi::instance().loaded());
    run(kInitSteam);
    ASSERT_EQ(fake.requests.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(path(i), i < 2 ? "/v1.0/c2s/first_open/app/steam/999" : "/v1.0/c2s/session/app/steam/999");
        EXPECT_EQ(body(i)["app_version"], "");
        EXPECT_EQ(body(i)["device_ids"].size(), 1u);
    }
}

// A copy of the library in the working directory and on PATH, and none beside the program: a
// planted library must not run inside the game.
TEST_F(SteamReportingTest, LibraryOutsideTheProgramsFoldersIsNotLoaded) {
    namespace fs = std::filesystem;
    const std::string planted = std::string("planted_") + ORBA::SteamApi::defaultLibraryName();
    const fs::path folder =
        fs::temp_directory_path() / ("orba-planted-" + std::to_string(std::random_device()()));
    fs::create_directories(folder);
    fs::copy_file(OrbaTools::executableFolder() + ORBA::SteamApi::defaultLibraryName(),
                  folder / planted);
    const fs::path workingFolder = fs::current_path();
    fs::current_path(folder);
#ifdef _WIN32
    const char* pathVariable = std::getenv("PATH");
    const std::string path = pathVariable != nullptr ? pathVariable : "";
    _putenv(("PATH=" + folder.string() + ";" + path).c_str());
#endif

    ORBA::SteamApi::instance().reload(planted);
    const bool loaded = ORBA::SteamApi::instance().loaded();

#ifdef _WIN32
    _putenv(("PATH=" + path).c_str());
#endif
    fs::current_path(workingFolder);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    EXPECT_FALSE(loaded);
}

TEST_F(SteamReportingTest, EventsBetweenInitAndSessionStartAreDropped) {
    steam.configure(0, 480, 1, kSteamId);
    ORBA::OndrixSteamModuleImpl module(fake.services());
    ASSERT_TRUE(module.init(ORBA::readTrackerConfig(ORBA::parseCommandText(R"({"key":"k"})"))));
    EXPECT_EQ(module.reporter().appId(), "480");
    EXPECT_TRUE(module.reporter().steamIdEnabled());
    module.sendEvent("e", nlohmann::json::object(), nlohmann::json::object(), "");
    EXPECT_TRUE(fake.requests.empty());
    module.startSession(false);
    module.sendEvent("e", nlohmann::json::object(), nlohmann::json::object(), "");
    ASSERT_EQ(fake.requests.size(), 2u);
    EXPECT_EQ(path(1), "/v1.0/c2s/inapp/app/steam/480");
}

TEST_F(SteamReportingTest, EachSteamAppKeepsItsOwnCounter) {
    steam.configure(0, 100, 1, kSteamId);
    run(kInitSteam);
    run(kInitSteam);
    steam.configure(0, 200, 1, kSteamId);
    run(kInitSteam);
    EXPECT_EQ(fake.store["ZQ_counter_100"], "2");
    EXPECT_EQ(fake.store["ZQ_counter_200"], "1");
    EXPECT_NE(fake.store["ZQ_uuid_100"], fake.store["ZQ_uuid_200"]);
}

}  // namespace
