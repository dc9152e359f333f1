// The tracker end to end: command texts in, signed HTTPS requests at the local collector, the
// identity in the real store (the registry under Wine, a state file under a temporary folder on
// Linux).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "SharedLibrary.h"
#include "orba/Logger.h"
#include "orba/Plugin.h"
#include "orba/orba.h"
#include "platform/IdentityStore.h"
#include "platform/OutboxFolder.h"
#include "support/Collector.h"
#include "support/DebugOutputCapture.h"
#include "support/FakeSteam.h"
#include "support/RecordingModule.h"
#include "tracker/Delivery.h"
#include "tracker/RequestFile.h"
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
    std::string initNative(const std::string& extra = "") const { return initNative(extra, appId_); }
    std::string initNative(const std::string& extra, const std::string& appId) const {
        return R"({"event":"InitTracker","body":{"isSteam":false,"did":"dev-1","config":)" +
               config(appId, extra) + "}}";
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

    // Each failure is told once, with what to check and, for no answer, why: a refused
    // connection, an untrusted server, a wrong dev key, an unreadable authority file.
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    OrbaTest::DebugOutputCapture capture;
    run(R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"k","appId":")" + appId_ +
        R"(","endpoint":"https://localhost:9"}}})");
    // An authority that did not sign the collector's certificate. (Without any, Wine may hand the
    // request a connection the collector's own authority let in before.)
    run(R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"k","appId":")" + appId_ +
        R"(","endpoint":")" + collector_.settings().url + R"(","caFile":")" + ORBA_FIXTURE_DIR +
        R"(/unrelated-ca.pem"}}})");
    run(initNative(R"(,"key":"wrong")"));
    run(R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"k","appId":")" + appId_ +
        R"(","endpoint":"https://localhost:9","caFile":"/no/such/ca.pem"}}})");
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(false);
    const std::string log = capture.finish();
    const auto count = [&log](const std::string& text) {
        std::size_t found = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
        return found;
    };
    const std::string request = "Request first_open of app " + appId_;
    const std::string noAnswer = request + " got no answer: check that the endpoint is reachable and ";
    EXPECT_EQ(count(noAnswer + "trusted by the system; connect failed: "), 1u) << log;
    EXPECT_EQ(count(noAnswer + "that caFile names the authority it is signed by; certificate trust "
                               "failed: "),
              1u)
        << log;
    EXPECT_EQ(count(request + " was refused with status 403: check the dev key and the app id\n"), 1u)
        << log;
    EXPECT_EQ(count("caFile \"/no/such/ca.pem\" cannot be read: no request will be trusted until "
                    "it can\n"),
              1u)
        << log;
    // One line a request, none an attempt.
    EXPECT_EQ(count(request), 4u) << log;
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

// Background delivery: commands store their requests and return; the library's sender thread
// posts them, in order, retrying what may succeed later, across processes.

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kBackground[] = R"(,"delivery":"background")";

std::string sendEvent(const std::string& name) {
    return R"({"event":"SendEvent","body":{"eventName":")" + name + R"("}})";
}

std::string flush(long timeoutMs) {
    return R"({"event":"FlushTracker","body":{"timeoutMs":)" + std::to_string(timeoutMs) + "}}";
}

bool waitUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(5000)) {
    const Clock::time_point end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

// The sample host, run as a game would run: the library loaded at run time from its file,
// unloaded when the host's main returns, then the process's end.
std::string hostProgram() {
#ifdef _WIN32
    return OrbaTools::executableFolder() + "orba-host.exe";
#else
    return OrbaTools::executableFolder() + "orba-host";
#endif
}

std::string commandFile(const std::vector<std::string>& commands) {
    const std::string file = testing::TempDir() + "orba-host-" + OrbaTest::uniqueMarker() + ".txt";
    std::ofstream out(file, std::ios::binary);
    for (const std::string& command : commands) out << command << '\n';
    return file;
}

// How long a host process took from start to end.
milliseconds runHost(const std::vector<std::string>& commands) {
    const std::string file = commandFile(commands);
#ifdef _WIN32
    const std::string quiet = " >NUL 2>&1";
#else
    const std::string quiet = " >/dev/null 2>&1";
#endif
    const Clock::time_point start = Clock::now();
    const int status = std::system((hostProgram() + " " + file + quiet).c_str());
    const milliseconds took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    EXPECT_EQ(status, 0);
    std::remove(file.c_str());
    return took;
}

class DeliveryE2ETest : public TrackerE2ETest {
protected:
    void TearDown() override {
        ORBA::Delivery::instance().setFirstRetryDelay(ORBA::kFirstRetryDelay);
        TrackerE2ETest::TearDown();
    }

    std::vector<nlohmann::json> delivered() const {
        std::vector<nlohmann::json> accepted;
        for (auto& line : requests()) {
            if (line["status"] == 202) accepted.push_back(line);
        }
        return accepted;
    }

    // Each request was delivered once, in the order given ("first_open", "inapp:NAME", ...),
    // and every failed attempt carried the bytes and signature of a request delivered later.
    void expectDeliveredOnce(const std::vector<std::string>& expected) const {
        const auto accepted = delivered();
        ASSERT_EQ(accepted.size(), expected.size());
        std::set<std::string> requestIds;
        std::set<std::string> bodies;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const nlohmann::json sent = body(accepted[i]);
            const std::string path = accepted[i]["path"];
            const std::size_t colon = expected[i].find(':');
            const std::string kind = expected[i].substr(0, colon);
            EXPECT_EQ(path, "/v1.0/c2s/" + kind + "/app/nativepc/" + appId_) << i;
            if (colon != std::string::npos) {
                EXPECT_EQ(sent["event_name"], expected[i].substr(colon + 1)) << i;
            }
            EXPECT_EQ(accepted[i]["signature_ok"], true);
            EXPECT_TRUE(requestIds.insert(sent["request_id"].get<std::string>()).second) << i;
            bodies.insert(accepted[i]["body"].get<std::string>() + "|" + accepted[i]["signature"].get<std::string>());
        }
        for (const auto& line : requests()) {
            if (line["status"] == 202) continue;
            EXPECT_EQ(bodies.count(line["body"].get<std::string>() + "|" + line["signature"].get<std::string>()), 1u)
                << line.dump();
        }
    }
};

TEST_F(DeliveryE2ETest, CommandsReturnAtOnceAndFlushDeliversInOrder) {
    collector_.setDelayMs(300);
    const Clock::time_point start = Clock::now();
    run(initNative(kBackground));
    for (int i = 0; i < 5; ++i) run(sendEvent("e" + std::to_string(i)));
    // Posting them one by one would take six times 300 ms.
    EXPECT_LT(Clock::now() - start, milliseconds(900));
    // A launch counts once its request is stored.
    EXPECT_EQ(counter(appId_), "1");

    run(flush(20000));
    expectDeliveredOnce({"first_open", "inapp:e0", "inapp:e1", "inapp:e2", "inapp:e3", "inapp:e4"});
    EXPECT_EQ(requests().size(), 6u);
    // Nothing is left to wait for.
    const Clock::time_point again = Clock::now();
    run(flush(20000));
    EXPECT_LT(Clock::now() - again, milliseconds(200));
}

TEST_F(DeliveryE2ETest, RefusedRequestsAreDroppedAndOthersRetriedWithTheSameBytes) {
    ORBA::Delivery::instance().setFirstRetryDelay(milliseconds(20));
    collector_.setStatus(400);
    run(initNative(kBackground));
    run(flush(10000));
    ASSERT_EQ(requests().size(), 1u);  // a 400 is final

    collector_.setStatus(503);
    run(sendEvent("again"));
    ASSERT_TRUE(waitUntil([&] { return requests().size() >= 4; }));
    collector_.setStatus(429);
    ASSERT_TRUE(waitUntil([&] { return requests().back()["status"] == 429; }));
    const Clock::time_point refused = Clock::now();
    collector_.setStatus(202);
    run(flush(10000));
    // The collector's 429 asks for a second; the back-off alone would be a fraction of that.
    EXPECT_GE(Clock::now() - refused, milliseconds(800));

    const auto lines = requests();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0]["status"], 400);
    EXPECT_EQ(lines.back()["status"], 202);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["body"], lines[1]["body"]) << i;
        EXPECT_EQ(lines[i]["signature"], lines[1]["signature"]) << i;
        if (i + 1 < lines.size()) {
            EXPECT_NE(lines[i]["status"], 202) << i;
        }
    }

    // The same wait asked for with a date, two seconds ahead by the collector's clock.
    ASSERT_TRUE(collector_.setRetryAfterDate(true));
    collector_.setStatus(429);
    run(sendEvent("dated"));
    ASSERT_TRUE(waitUntil([&] { return requests().size() > lines.size(); }));
    const Clock::time_point dated = Clock::now();
    collector_.setStatus(202);
    run(flush(10000));
    EXPECT_GE(Clock::now() - dated, milliseconds(800));
    const auto after = requests();
    ASSERT_EQ(after.size(), lines.size() + 2);
    EXPECT_EQ(after[lines.size()]["status"], 429);
    EXPECT_EQ(after.back()["status"], 202);
    EXPECT_EQ(after.back()["body"], after[lines.size()]["body"]);
}

// The status a host can ask for, as the C interface gives it.
nlohmann::json statusOf(const std::string& appId) {
    char* text = orba_tracker_status();
    const nlohmann::json status = nlohmann::json::parse(text != nullptr ? text : "{}", nullptr, false);
    orba_free(text);
    for (const auto& app : status.value("apps", nlohmann::json::array())) {
        if (app["appId"] == appId) return app;
    }
    return nlohmann::json();
}

TEST_F(DeliveryE2ETest, TheStatusTellsWhatWaitsWasRetriedAndDelivered) {
    ORBA::Delivery::instance().setFirstRetryDelay(milliseconds(20));
    collector_.setStatus(503);
    run(initNative(kBackground));
    run(sendEvent("waiting"));
    ASSERT_TRUE(waitUntil([&] { return requests().size() >= 3; }));
    nlohmann::json status = statusOf(appId_);
    ASSERT_TRUE(status.is_object()) << status;
    EXPECT_EQ(status["delivery"], "background");
    EXPECT_EQ(status["lastStatus"], 503);
    EXPECT_GE(status["retried"].get<int>(), 2);
    EXPECT_EQ(status["delivered"], 0);
    EXPECT_EQ(status["waiting"], 2);
    EXPECT_GT(status["waitingBytes"].get<int>(), 0);
    EXPECT_GE(status["oldestWaitingSeconds"].get<double>(), 0.0);

    collector_.setStatus(202);
    run(flush(20000));
    status = statusOf(appId_);
    EXPECT_EQ(status["lastStatus"], 202);
    EXPECT_EQ(status["delivered"], 2);
    EXPECT_EQ(status["waiting"], 0);
    EXPECT_TRUE(status["oldestWaitingSeconds"].is_null());
    EXPECT_TRUE(status["nextRetrySeconds"].is_null());
    EXPECT_EQ(status["dropped"]["refused"], 0);

    // What the player has erased counts as dropped, by its own reason.
    collector_.setStatus(503);
    run(sendEvent("forgotten"));
    run(R"({"event":"ForgetInstall"})");
    EXPECT_EQ(statusOf(appId_)["dropped"]["erased"], 1);

    // Synchronous delivery counts what each command's post got.
    collector_.setStatus(400);
    run(initNative("", appId_ + "-sync"));
    status = statusOf(appId_ + "-sync");
    EXPECT_EQ(status["delivery"], "sync");
    EXPECT_EQ(status["dropped"]["refused"], 1);
    EXPECT_EQ(status["lastStatus"], 400);
}

TEST_F(DeliveryE2ETest, AnOutageCarriesOverToTheNextProcess) {
    // One launch already counted: the next one is the second first_open, then sessions follow.
    ORBA::Platform::writeIdentityValue("ZQ_counter_" + appId_, "1");
    collector_.setStatus(503);
    const milliseconds first = runHost({initNative(kBackground), sendEvent("one"), sendEvent("two")});
    EXPECT_LT(first, milliseconds(5000));
    EXPECT_EQ(counter(appId_), "2");
    // Its first attempt may still be on its way: let it land before the service comes back.
    waitUntil([&] { return !requests().empty(); }, milliseconds(2000));

    collector_.setStatus(202);
    runHost({initNative(kBackground), flush(20000)});
    expectDeliveredOnce({"first_open", "inapp:one", "inapp:two", "session"});
}

// The bytes of the request files of `appId`'s outbox.
std::uintmax_t storedBytes(const std::string& appId) {
    const std::filesystem::path folder = std::filesystem::u8path(ORBA::Platform::outboxFolder()) /
                                         ORBA::RequestFile::appFolderName(appId);
    std::uintmax_t bytes = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code sizeError;
        if (it->path().extension() == ".req") bytes += it->file_size(sizeError);
    }
    return bytes;
}

TEST_F(DeliveryE2ETest, PurchasesOutlastOtherEventsAndTheOutboxKeepsItsBoundInBytes) {
    // 64 KiB hold some 60 requests: an outage of 150 events and 15 purchases overflows them, and
    // the events make the room.
    const std::string bounded = std::string(kBackground) + R"(,"outboxMaxBytes":65536)";
    const auto revenue = [](int i) {
        return R"({"event":"SendRevenueEvent","body":{"data":{"revenue":)" + std::to_string(i) +
               R"(.99,"currency":"EUR","itemCount":1,"refId":"r-)" + std::to_string(i) + "\"}}}";
    };
    collector_.setStatus(503);
    std::vector<std::string> commands{initNative(bounded)};
    for (int i = 0; i < 150; ++i) {
        commands.push_back(sendEvent("e" + std::to_string(i)));
        if (i % 10 == 9) commands.push_back(revenue(i / 10));
    }
    runHost(commands);
    // The next start writes out what the first left in its intake, within the bound; its own
    // launch may come on top, as a launch is never dropped for room.
    runHost({initNative(bounded), flush(1500)});
    EXPECT_LE(storedBytes(appId_), 65536u + 2048u);
    EXPECT_GT(storedBytes(appId_), 65536u / 2);

    collector_.setStatus(202);
    runHost({initNative(bounded), flush(60000)});
    std::set<std::string> purchases;
    std::size_t events = 0;
    for (const auto& line : delivered()) {
        const nlohmann::json sent = body(line);
        if (sent.value("event_name", "") == "zq_purchase") {
            purchases.insert(sent["event_parameters"]["zq_receipt_id"].get<std::string>());
        } else if (sent.contains("event_name")) {
            ++events;
        }
    }
    EXPECT_EQ(purchases.size(), 15u);
    EXPECT_GT(events, 0u);
    EXPECT_LT(events, 150u);
    EXPECT_EQ(storedBytes(appId_), 0u);

    // Events of a mebibyte each, with the built-in bound of 8 MiB, during an outage.
    collector_.setStatus(503);
    const std::string large = appId_ + "-large";
    const std::string filler(1 << 20, 'x');
    std::vector<std::string> bulky{initNative(kBackground, large)};
    for (int i = 0; i < 12; ++i) {
        bulky.push_back(R"({"event":"SendEvent","body":{"eventName":"big","customAttributes":{"blob":")" +
                        filler + "\"}}}");
    }
    bulky.push_back(flush(500));
    runHost(bulky);
    runHost({initNative(kBackground, large), flush(500)});
    EXPECT_LE(storedBytes(large), 8u << 20);
    EXPECT_GT(storedBytes(large), 6u << 20);
}

// The host's thread waits for nothing at exit: neither FreeLibrary/dlclose nor the process's end
// waits for a request that the server holds, and the request is sent by the next process.
TEST_F(DeliveryE2ETest, AHostEndsPromptlyWhileItsRequestHangs) {
    collector_.setDelayMs(10000);
    // The flush gives up after a second, with the first_open surely waiting for its answer.
    const milliseconds took = runHost({initNative(kBackground), flush(1000)});
    EXPECT_LT(took, milliseconds(4000));

    collector_.setDelayMs(0);
    runHost({initNative(kBackground), flush(20000)});
    std::set<std::string> requestIds;
    for (const auto& line : delivered()) requestIds.insert(body(line)["request_id"].get<std::string>());
    EXPECT_EQ(requestIds.size(), 2u);
}

// The exit status of a command line. On Windows a process still running after `limit` is ended and
// gives -2: its exit hangs where the system has already ended every other thread, the host's own
// watchdog included. (Elsewhere that watchdog ends a hung exit.)
int runToEnd(const std::string& commandLine, milliseconds limit) {
#ifdef _WIN32
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    int status = -2;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        status = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hProcess);
    return status;
#else
    (void)limit;
    return std::system(commandLine.c_str());
#endif
}

// A game may end while a thread of its own is inside a command: whatever the exit handlers do, the
// command completes or returns on state they leave alone, and the process ends as it asked to.
TEST_F(DeliveryE2ETest, AGameExitsWhileItsThreadIsInsideACommand) {
#ifdef _WIN32
    const std::string host = OrbaTools::executableFolder() + "orba_exiting_host.exe";
#else
    const std::string host = OrbaTools::executableFolder() + "orba_exiting_host";
#endif
    std::minstd_rand random(std::random_device{}());
    // Long enough for a command or two in sync mode, for hundreds stored in the background.
    std::uniform_int_distribution<int> delayUs(0, 5000);
#ifdef _WIN32
    const int runs = 10;  // a process start under Wine costs several times more
#else
    const int runs = 20;
#endif
    for (const char* mode : {R"(,"delivery":"sync")", kBackground}) {
        for (int run = 0; run < runs; ++run) {
            // An app id of its own: sending what an earlier run left stored would only slow
            // this one's exit down.
            const std::string file = commandFile(
                {initNative(mode, appId_ + "-" + std::to_string(run)), sendEvent("busy")});
            const int delay = delayUs(random);
            const int status =
                runToEnd(host + " " + file + " " + std::to_string(delay), milliseconds(10000));
            std::remove(file.c_str());
            // 10 to 13: the host's own watchdog found it stalled loading, in the first command,
            // in the busy thread's first command or in the exit; -2: not even the watchdog ran.
            EXPECT_EQ(status, 0) << mode << " run " << run << ", exit after " << delay << " us";
            if (status != 0) break;
        }
    }
}

#ifndef _WIN32
TEST_F(DeliveryE2ETest, AKilledProcessLosesNothingStored) {
    ORBA::Platform::writeIdentityValue("ZQ_counter_" + appId_, "1");
    collector_.setStatus(503);
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const std::string program = hostProgram();
    const pid_t host = ::fork();
    ASSERT_NE(host, -1);
    if (host == 0) {
        ::dup2(input[0], 0);
        ::close(input[0]);
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (quiet != -1) ::dup2(quiet, 1);
        ::close(input[1]);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    // The host reads on after these and never ends by itself.
    const std::string commands =
        initNative(kBackground) + "\n" + sendEvent("one") + "\n" + sendEvent("two") + "\n";
    ASSERT_EQ(::write(input[1], commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
    ASSERT_TRUE(waitUntil([&] { return !requests().empty(); }));
    std::this_thread::sleep_for(milliseconds(200));
    ::kill(host, SIGKILL);
    int status = 0;
    ::waitpid(host, &status, 0);
    ::close(input[1]);
    EXPECT_TRUE(WIFSIGNALED(status));

    collector_.setStatus(202);
    runHost({initNative(kBackground), flush(20000)});
    expectDeliveredOnce({"first_open", "inapp:one", "inapp:two", "session"});
}
#endif

// The player decides: with "consent": "required" nothing about the player is made, stored or sent
// before a grant; a revoke erases what waits and holds in every later process until a grant; an
// install can be forgotten. Decisions and identity live in the real store, shared by the processes.

const char kConsentRequired[] = R"(,"delivery":"background","consent":"required")";

std::string setConsent(bool granted, const std::string& appId = "") {
    return std::string(R"({"event":"SetConsent","body":{"granted":)") + (granted ? "true" : "false") +
           (appId.empty() ? "" : R"(,"appId":")" + appId + "\"") + "}}";
}

class ConsentE2ETest : public DeliveryE2ETest {
protected:
    std::string value(const std::string& baseName) const {
        return ORBA::Platform::readIdentityValue(baseName + "_" + appId_, 2048);
    }
    // Request files of this test's app left in the outbox.
    std::size_t storedRequests() const {
        namespace fs = std::filesystem;
        const fs::path folder =
            fs::u8path(ORBA::Platform::outboxFolder()) / ORBA::RequestFile::appFolderName(appId_);
        std::size_t count = 0;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            if (it->path().extension() == ".req") ++count;
        }
        return count;
    }
    // The event names ("" for a launch) and kinds delivered, in order.
    std::vector<std::string> deliveredKinds() const {
        std::vector<std::string> kinds;
        for (const auto& line : delivered()) {
            const std::string path = line["path"];
            const std::string kind = path.substr(10, path.find('/', 10) - 10);
            const nlohmann::json sent = body(line);
            kinds.push_back(kind == "inapp" ? "inapp:" + sent["event_name"].get<std::string>() : kind);
        }
        return kinds;
    }
};

TEST_F(ConsentE2ETest, NothingIsMadeBeforeAGrantAndTheLaunchFollowsIt) {
    run(initNative(kConsentRequired));
    run(sendEvent("before"));
    run(R"({"event":"SuccessSignIn","body":{"data":{"accountId":"p-1"}}})");
    run(R"({"event":"SendRevenueEvent","body":{"data":{"revenue":1}}})");
    run(flush(2000));
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(value("ZQ_uuid"), "");
    EXPECT_EQ(value("ZQ_counter"), "");
    EXPECT_EQ(storedRequests(), 0u);

    run(setConsent(true));
    EXPECT_EQ(value("ZQ_consent"), "granted");
    run(sendEvent("after"));
    run(flush(20000));
    EXPECT_EQ(deliveredKinds(), (std::vector<std::string>{"first_open", "inapp:after"}));
    const auto lines = delivered();
    ASSERT_EQ(lines.size(), 2u);
    // The sign-in made while waiting goes with the launch the grant reports.
    EXPECT_EQ(body(lines[0])["customer_user_id"], "p-1");
    EXPECT_EQ(value("ZQ_uuid").size(), 36u);
    EXPECT_EQ(value("ZQ_counter"), "1");

    // Bodies that decide nothing change nothing.
    run(R"({"event":"SetConsent","body":{"granted":"false"}})");
    run(R"({"event":"SetConsent","body":{}})");
    run(R"({"event":"SetConsent"})");
    EXPECT_EQ(value("ZQ_consent"), "granted");
}

TEST_F(ConsentE2ETest, ARevokeErasesWhatWaitsAndHoldsAcrossRestartsUntilAGrant) {
    collector_.setStatus(503);
    runHost({initNative(kBackground), sendEvent("one")});
    EXPECT_EQ(counter(appId_), "1");
    // What was set aside (stored for another endpoint, say) goes too.
    namespace fs = std::filesystem;
    const fs::path aside = fs::u8path(ORBA::Platform::outboxFolder()) /
                           ORBA::RequestFile::appFolderName(appId_) / "set-aside";
    fs::create_directories(aside);
    std::ofstream(aside / "planted.req") << "request";
    // Said before any InitTracker: the body names the app.
    runHost({setConsent(false, appId_)});
    EXPECT_EQ(value("ZQ_consent"), "revoked");
    EXPECT_EQ(storedRequests(), 0u);
    EXPECT_FALSE(fs::exists(aside / "planted.req"));

    // Without "consent": "required" too, a stored revoke holds.
    collector_.setStatus(202);
    runHost({initNative(kBackground), sendEvent("two"), flush(3000)});
    runHost({initNative(), sendEvent("three")});
    EXPECT_TRUE(delivered().empty());
    EXPECT_EQ(storedRequests(), 0u);
    EXPECT_EQ(counter(appId_), "1");

    runHost({initNative(kBackground), setConsent(true), sendEvent("four"), flush(20000)});
    EXPECT_EQ(deliveredKinds(), (std::vector<std::string>{"first_open", "inapp:four"}));
    EXPECT_EQ(counter(appId_), "2");
}

// A process that read a grant at its start still stops at a revoke that another process stores:
// its sender asks the store before each post, and drops what it stores afterwards.
TEST_F(ConsentE2ETest, ARevokeElsewhereStopsThisProcesssSender) {
    ORBA::Delivery::instance().setFirstRetryDelay(milliseconds(20));
    collector_.setStatus(503);
    run(initNative(kBackground));
    run(sendEvent("one"));
    ASSERT_TRUE(waitUntil([&] { return !requests().empty(); }));
    runHost({setConsent(false, appId_)});
    // A post that asked before the revoke is answered before the service comes back.
    std::this_thread::sleep_for(milliseconds(300));
    collector_.setStatus(202);
    run(sendEvent("late"));
    run(flush(5000));
    EXPECT_TRUE(delivered().empty());
    EXPECT_EQ(storedRequests(), 0u);
}

TEST_F(ConsentE2ETest, AForgottenInstallStartsAgainWithANewId) {
    ORBA::Platform::writeIdentityValue("ZQ_counter_" + appId_, "5");
    collector_.setStatus(503);
    runHost({initNative(kBackground), setConsent(true), sendEvent("old")});
    const std::string before = value("ZQ_uuid");
    ASSERT_EQ(before.size(), 36u);

    runHost({R"({"event":"ForgetInstall","body":{"appId":")" + appId_ + "\"}}"});
    EXPECT_EQ(value("ZQ_uuid"), "");
    EXPECT_EQ(value("ZQ_counter"), "");
    EXPECT_EQ(storedRequests(), 0u);
    // The player's decision is not data about play: it stays.
    EXPECT_EQ(value("ZQ_consent"), "granted");

    collector_.setStatus(202);
    runHost({initNative(kBackground), flush(20000)});
    const auto lines = delivered();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["path"], "/v1.0/c2s/first_open/app/nativepc/" + appId_);
    const std::string after = body(lines[0])["device_ids"][0]["value"];
    EXPECT_EQ(after.size(), 36u);
    EXPECT_NE(after, before);
    EXPECT_EQ(value("ZQ_uuid"), after);

    // A process that knows the id forgets it too: its next start makes a new one.
    run(initNative());
    run(R"({"event":"ForgetInstall"})");
    run(initNative());
    const auto again = delivered();
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(body(again[1])["device_ids"][0]["value"], after);
    EXPECT_EQ(again[2]["path"], "/v1.0/c2s/first_open/app/nativepc/" + appId_);
    const std::string third = body(again[2])["device_ids"][0]["value"];
    EXPECT_NE(third, after);
    EXPECT_EQ(value("ZQ_uuid"), third);
}

}  // namespace
