// The memory one large SendEvent command takes on the host's thread, from its text to the posted
// request, against services that keep nothing. Every allocation of the process is counted, so
// this has a binary of its own. The counters are the high-water mark above what was in use
// before the command, in bytes and as a multiple of the command's length.
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include <benchmark/benchmark.h>

#include "orba/Plugin.h"
#include "plugin/ModuleCommands.h"
#include "tracker/TrackerServices.h"

namespace {

std::atomic<std::size_t> inUse{0};
std::atomic<std::size_t> highWater{0};

void* allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    const std::size_t now = inUse += malloc_usable_size(block);
    std::size_t high = highWater.load();
    while (now > high && !highWater.compare_exchange_weak(high, now)) {
    }
    return block;
}

void release(void* block) {
    if (block == nullptr) return;
    inUse -= malloc_usable_size(block);
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }

namespace {

const std::size_t kCommandBytes = 3 << 20;

// Attributes as a game sends them: short keys with counters, names, ratios, flags and small lists.
std::string telemetryAttributes() {
    std::string members;
    char member[96];
    for (int i = 0; members.size() < kCommandBytes; ++i) {
        switch (i % 5) {
            case 0: std::snprintf(member, sizeof member, "\"count_%06d\":%d,", i, i * 7); break;
            case 1: std::snprintf(member, sizeof member, "\"name_%06d\":\"item-%d\",", i, i); break;
            case 2: std::snprintf(member, sizeof member, "\"ratio_%06d\":%d.25,", i, i); break;
            case 3: std::snprintf(member, sizeof member, "\"flag_%06d\":true,", i); break;
            default: std::snprintf(member, sizeof member, "\"list_%06d\":[1,2,%d],", i, i); break;
        }
        members += member;
    }
    members.back() = '}';
    return "{" + members;
}

// The densest attributes there are: one long list of one-digit numbers.
std::string digitList() {
    std::string list = "[";
    while (list.size() < kCommandBytes) list += "7,";
    list.back() = ']';
    return list;
}

// Many short texts, as lists of tags or item names are sent: one to six characters each.
std::string shortStrings() {
    static const char* const kWords[] = {"a", "ok", "red", "sword", "t42", "shield", "xp", "b7"};
    std::string list = "[";
    for (int i = 0; list.size() < kCommandBytes; ++i) {
        list += '"';
        list += kWords[i % 8];
        list += "\",";
    }
    list.back() = ']';
    return list;
}

// Objects nested several levels deep and wide at each level, with the short keys and small values
// of game state: players holding stats, a position and an inventory of items.
std::string deepObjects() {
    std::string players;
    char player[320];
    for (int i = 0; players.size() < kCommandBytes; ++i) {
        std::snprintf(player, sizeof player,
                      "\"p%d\":{\"id\":%d,\"lv\":%d,\"pos\":{\"x\":%d.5,\"y\":-%d.25,\"z\":0},"
                      "\"st\":{\"hp\":%d,\"mp\":%d,\"ok\":true},"
                      "\"inv\":{\"a\":{\"n\":%d,\"q\":1},\"b\":{\"n\":%d,\"q\":%d}}},",
                      i, i, i % 99, i % 1000, i % 500, 100 + i % 7, 50 + i % 3, i % 40, i % 17,
                      i % 9);
        players += player;
    }
    players.back() = '}';
    return R"({"world":{"zone":{"players":{)" + players + "}}}";
}

// One element repeated: the smallest elements of each kind, where the value's own size and any
// per-element allocation weigh most against the text.
std::string repeatedList(const char* element) {
    std::string list = "[";
    while (list.size() < kCommandBytes) {
        list += element;
        list += ',';
    }
    list.back() = ']';
    return list;
}

// Distinct one-letter texts, so that no two neighbours are the same.
std::string oneLetterStrings() {
    std::string list = "[";
    for (int i = 0; list.size() < kCommandBytes; ++i) {
        list += '"';
        list += static_cast<char>('a' + i % 26);
        list += "\",";
    }
    list.back() = ']';
    return list;
}

std::string sendEventCommand(const std::string& attributes) {
    return R"({"event":"SendEvent","body":{"eventName":"level_up","customAttributes":)" + attributes +
           "}}";
}

void installQuietServices() {
    auto quiet = std::make_shared<ORBA::TrackerServices>(ORBA::platformTrackerServices());
    ORBA::TrackerServices& services = *quiet;
    services.readValue = [](const std::string&, std::size_t) { return std::string("5"); };
    services.writeValue = [](const std::string&, const std::string&) { return true; };
    services.makeUuid = [] { return std::string("3f2b8c1e-6d7a-4e55-9a10-2b3c4d5e6f70"); };
    services.osVersion = [] { return std::string("10.0.19045.3803"); };
    services.post = [](const ORBA::HttpRequest&) { return ORBA::HttpResult{202, -1, ""}; };
    ORBA::setModuleFactory(ORBA::builtInModuleFactory(quiet));
    TriggerOrbaThirdPartyTrackerEventCallbackFunc(
        R"({"event":"InitTracker","body":{"isSteam":false,"config":{"devKey":"dk","appId":"app"}}})");
}

void measure(benchmark::State& state, const std::string& command) {
    installQuietServices();
    std::size_t peak = 0;
    for (auto _ : state) {
        const std::size_t before = inUse.load();
        highWater = before;
        TriggerOrbaThirdPartyTrackerEventCallbackFunc(command.c_str());
        peak = highWater.load() - before;
    }
    state.counters["command_bytes"] = static_cast<double>(command.size());
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["peak_per_command_byte"] = static_cast<double>(peak) / command.size();
}

void sendEventTelemetryPeak(benchmark::State& state) {
    measure(state, sendEventCommand(telemetryAttributes()));
}
BENCHMARK(sendEventTelemetryPeak)->Unit(benchmark::kMillisecond)->Iterations(3);

void sendEventDigitListPeak(benchmark::State& state) {
    measure(state, sendEventCommand(digitList()));
}
BENCHMARK(sendEventDigitListPeak)->Unit(benchmark::kMillisecond)->Iterations(3);

void sendEventShortStringsPeak(benchmark::State& state) {
    measure(state, sendEventCommand(shortStrings()));
}
BENCHMARK(sendEventShortStringsPeak)->Unit(benchmark::kMillisecond)->Iterations(3);

void sendEventDeepObjectsPeak(benchmark::State& state) {
    measure(state, sendEventCommand(deepObjects()));
}
BENCHMARK(sendEventDeepObjectsPeak)->Unit(benchmark::kMillisecond)->Iterations(3);

void sendEventOneLetterStringsPeak(benchmark::State& state) {
    measure(state, sendEventCommand(oneLetterStrings()));
}
BENCHMARK(sendEventOneLetterStringsPeak)->Unit(benchmark::kMillisecond)->Iterations(3);

void sendEventSmallElementsPeak(benchmark::State& state, const char* element) {
    measure(state, sendEventCommand(repeatedList(element)));
}
BENCHMARK_CAPTURE(sendEventSmallElementsPeak, strings, "\"\"")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(sendEventSmallElementsPeak, arrays, "[]")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(sendEventSmallElementsPeak, objects, "{}")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(sendEventSmallElementsPeak, oneElementArrays, "[0]")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(sendEventSmallElementsPeak, oneMemberObjects, "{\"a\":0}")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(sendEventSmallElementsPeak, nestedEmptyArrays, "[[]]")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
