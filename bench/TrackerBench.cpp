// Costs on the host's thread: what a command pays before and after its request, what logging
// costs while it is switched off, and, when run through tests/scripts/with-collector.sh, what one
// signed request to the local collector costs on loopback.
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

// An InitTracker against the real identity store holding `range(0)` app ids of other games, with
// an answer that is accepted at once: what the command costs the host's thread apart from the
// network, and how that grows with the store.
void initTrackerWithStoredAppIds(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("orba-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder / "orba");
    // Written line by line: filling an IdentityStoreFile value by value costs quadratic time here.
    std::string text;
    for (int64_t i = 0; i < state.range(0); ++i) {
        const std::string appId = "other-game-" + std::to_string(i);
        text += "ZQ_uuid_" + appId + "=0f8fad5b-d9cb-469f-a165-70867728950e\n";
        text += "ZQ_counter_" + appId + "=7\n";
    }
    std::ofstream(folder / "orba" / ORBA::Platform::kIdentityFileName) << text;
    setenv("XDG_STATE_HOME", folder.c_str(), 1);

    auto services = std::make_shared<ORBA::TrackerServices>(ORBA::platformTrackerServices());
    services->post = [](const ORBA::HttpRequest&) { return 202; };
    ORBA::setModuleFactory(ORBA::builtInModuleFactory(services));
    const std::string init =
        R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"k","appId":"bench-game","appVersion":"1.0"}}})";
    for (auto _ : state) TriggerOrbaThirdPartyTrackerEventCallbackFunc(init.c_str());
    ORBA::setModuleFactory(nullptr);
    unsetenv("XDG_STATE_HOME");
    fs::remove_all(folder);
}
BENCHMARK(initTrackerWithStoredAppIds)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
