// Feeds the exported command function what a host might hand it. An input holds one or more
// command texts separated by NUL bytes, so that one input can open the tracker and then send
// events; each input starts from a fresh tracker, which keeps a found crash reproducible from its
// input alone. The identity store, UUIDs, OS version and HTTPS post are in-memory fakes: nothing
// touches the disk or the network.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "orba/Logger.h"
#include "orba/Plugin.h"
#include "plugin/ModuleCommands.h"
#include "plugin/PluginState.h"
#include "plugin/TrackerContext.h"
#include "tracker/TrackerServices.h"

namespace {

struct FakeWorld {
    std::map<std::string, std::string> store;
    int uuidsMade = 0;
    int posts = 0;
};

FakeWorld& world() {
    static FakeWorld fakes;
    return fakes;
}

// Fresh for every input, with a cache of known values of their own.
std::shared_ptr<const ORBA::TrackerServices> makeFakeServices() {
    auto fakes = std::make_shared<ORBA::TrackerServices>();
    ORBA::TrackerServices& services = *fakes;
    services.readValue = [](const std::string& name, std::size_t maxBytes) {
        const auto found = world().store.find(name);
        if (found == world().store.end() || found->second.size() + 1 > maxBytes) return std::string();
        return found->second;
    };
    services.writeValue = [](const std::string& name, const std::string& value) {
        world().store[name] = value;
        return true;
    };
    services.updateValue = [](const std::string& name, std::size_t maxBytes,
                              const std::function<std::optional<std::string>(const std::string&)>&
                                  update) {
        std::string& stored = world().store[name];
        const std::string current = stored.size() + 1 > maxBytes ? std::string() : stored;
        if (std::optional<std::string> next = update(current)) stored = *next;
        return stored;
    };
    services.makeUuid = [] { return "uuid-" + std::to_string(++world().uuidsMade); };
    services.osVersion = [] { return std::string("10.0.19045.3803"); };
    // Accepted and refused answers alternate, so that both outcomes follow a send.
    services.post = [](const ORBA::HttpRequest&) { return world().posts++ % 2 == 0 ? 202 : 500; };
    return fakes;
}

void resetTracker() {
    world() = FakeWorld();
    ORBA::PluginState& state = ORBA::pluginState();
    state.trackerEnabled = false;
    state.activeModule.reset();
    ORBA::setModuleFactory(ORBA::builtInModuleFactory(makeFakeServices()));
    *ORBA::sharedContext() = ORBA::OndrixContext();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    resetTracker();
    // Inputs of odd length run with the core log on, so that the logger's paths (malformed UTF-8
    // included) are covered without every input paying for writing lines.
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(size % 2 == 1);
    // The bytes become NUL-terminated texts, as a host passes them; a NUL ends one command.
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t begin = 0;
    while (begin <= input.size()) {
        std::size_t end = input.find('\0', begin);
        if (end == std::string::npos) end = input.size();
        const std::string command = input.substr(begin, end - begin);
        TriggerOrbaThirdPartyTrackerEventCallbackFunc(command.c_str());
        begin = end + 1;
    }
    return 0;
}
