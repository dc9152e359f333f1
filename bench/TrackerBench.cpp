// Costs on the host's thread: what a command pays before and after its request, what logging
// costs while it is switched off, and, when run through tests/scripts/with-collector.sh, what one
// signed request to the local collector costs on loopback. ORBA_BENCH_STATE_PARENT chooses where
// the identity store of the InitTracker runs is made (default: the system's temporary folder).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "orba/Logger.h"
#include "orba/Plugin.h"
#include "platform/IdentityStoreFile.h"
#include "plugin/JsonValue.h"
#include "plugin/ModuleCommands.h"
#include "tracker/EventRecord.h"
#include "tracker/HttpTransport.h"
#include "tracker/TrackerServices.h"

namespace {

const std::string kRevenueCommand =
    R"({"event":"SendRevenueEvent","body":{"data":{"revenue":4.99,"currency":"USD","itemCount":1,)"
    R"("itemDescription":"gem pack","refId":"receipt-1","pid":"gems_100","title":"gems"}}})";

void logSwitchedOff(benchmark::State& state) {
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(false);
    const std::string text = "a diagnostic line that nobody will see";
    for (auto _ : state) ORBA::Core::Logger::Log(text);
}
BENCHMARK(logSwitchedOff);

void parseCommand(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ORBA::parseCommandText(kRevenueCommand));
}
BENCHMARK(parseCommand);

void buildInAppBody(benchmark::State& state) {
    ORBA::EventRecord record;
    record.deviceOsVersion = "10.0.19045.3803";
    record.deviceModel = ORBA::kDeviceModel;
    record.appVersion = "1.0.2";
    record.deviceIds = {{"custom", "3f2b8c1e-6d7a-4e55-9a10-2b3c4d5e6f70"}};
    record.requestId = "9e8d7c6b-5a49-4837-a625-1403f2e1d0c9";
    record.limitAdTracking = "false";
    record.eventName = "zq_purchase";
    record.eventParameters = {{"zq_revenue", 4.99}, {"zq_currency", "USD"}, {"zq_quantity", 1}};
    record.eventCustomParameters = {{"did", "d"}, {"appId", "a"}, {"serverId", "s"}};
    for (auto _ : state) benchmark::DoNotOptimize(ORBA::buildEventBody(record, true, false));
}
BENCHMARK(buildInAppBody);

void signBody(benchmark::State& state) {
    const std::string body(600, 'x');
    for (auto _ : state) benchmark::DoNotOptimize(ORBA::hmacSha256Hex("dev-key", body));
}
BENCHMARK(signBody);

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void postToCollector(benchmark::State& state) {
    const std::string url = environment("ORBA_TEST_COLLECTOR_URL");
    const std::string devKey = environment("ORBA_TEST_DEV_KEY");
    if (url.empty() || devKey.empty()) {
        state.SkipWithError("no collector: run through tests/scripts/with-collector.sh");
        return;
    }
    ORBA::HttpRequest request;
    request.url = url + "/v1.0/c2s/inapp/app/nativepc/bench";
    request.body = R"({"event_name":"bench","device_ids":[{"type":"custom","value":"b"}]})";
    request.authorization = ORBA::hmacSha256Hex(devKey, request.body);
    request.userAgent = "Native PC/HTTP Client 1.0 (bench)";
    request.caFile = environment("ORBA_TEST_CA_FILE");
    for (auto _ : state) {
        if (ORBA::postHttpRequest(request) != 202) {
            state.SkipWithError("the collector did not accept a request");
            return;
        }
    }
}
BENCHMARK(postToCollector)->Unit(benchmark::kMillisecond);

// A state folder for one benchmark, made under ORBA_BENCH_STATE_PARENT (default: the system's
// temporary folder): what a file costs depends on where on the disk it goes.
std::filesystem::path benchStateFolder() {
    namespace fs = std::filesystem;
    const std::string parent = environment("ORBA_BENCH_STATE_PARENT");
    const fs::path folder = (parent.empty() ? fs::temp_directory_path() : fs::path(parent)) /
                            ("orba-bench-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "orba" / ORBA::Platform::kIdentityBucketFolderName);
    return folder;
}

// The values of `count` other games, as `line(name, value)` gets them.
template <typename Line>
void forOtherGames(int64_t count, const Line& line) {
    for (int64_t i = 0; i < count; ++i) {
        const std::string appId = "other-game-" + std::to_string(i);
        line("ZQ_uuid_" + appId, "0f8fad5b-d9cb-469f-a165-70867728950e");
        line("ZQ_counter_" + appId, "7");
    }
}

// An InitTracker against the real identity store: what the command costs the host's thread apart
// from the network, with an answer that is accepted at once.
void runInitTracker(benchmark::State& state, const std::filesystem::path& folder) {
    setenv("XDG_STATE_HOME", folder.c_str(), 1);
    auto services = std::make_shared<ORBA::TrackerServices>(ORBA::platformTrackerServices());
    services->post = [](const ORBA::HttpRequest&) { return ORBA::HttpResult{202, -1, ""}; };
    ORBA::setModuleFactory(ORBA::builtInModuleFactory(services));
    const std::string init =
        R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"k","appId":"bench-game","appVersion":"1.0"}}})";
    for (auto _ : state) TriggerOrbaThirdPartyTrackerEventCallbackFunc(init.c_str());
    ORBA::setModuleFactory(nullptr);
    unsetenv("XDG_STATE_HOME");
    std::filesystem::remove_all(folder);
}

// The store holding the values of `range(0)` other games, each in its own file: the cost must not
// grow with them.
void initTrackerWithStoredAppIds(benchmark::State& state) {
    const std::filesystem::path folder = benchStateFolder();
    const std::filesystem::path buckets =
        folder / "orba" / ORBA::Platform::kIdentityBucketFolderName;
    forOtherGames(state.range(0), [&](const std::string& name, const std::string& value) {
        std::ofstream(buckets / ORBA::Platform::identityBucketName(name))
            << name << "=" << value << "\n";
    });
    runInitTracker(state, folder);
}
BENCHMARK(initTrackerWithStoredAppIds)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// A machine that earlier versions used: the other games' values are all in the single file,
// which this game's values are looked up in only until they have files of their own.
void initTrackerWithAppIdsInTheSingleFile(benchmark::State& state) {
    const std::filesystem::path folder = benchStateFolder();
    // Written line by line: filling an IdentityStoreFile value by value costs quadratic time here.
    std::string text;
    forOtherGames(state.range(0), [&](const std::string& name, const std::string& value) {
        text += name + "=" + value + "\n";
    });
    std::ofstream(folder / "orba" / ORBA::Platform::kIdentityFileName) << text;
    runInitTracker(state, folder);
}
BENCHMARK(initTrackerWithAppIdsInTheSingleFile)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
