// Feeds the exported command function what a host might hand it. An input holds one or more
// command texts separated by NUL bytes, so that one input can open the tracker and then send
// events; each input starts from a fresh tracker, which keeps a found crash reproducible from its
// input alone. The identity store, UUIDs, OS version and HTTPS post are in-memory fakes. Background
// delivery is the exception: it stores into the real outbox, which the run keeps in a temporary
// state folder of its own, and its sender posts to whatever endpoint the configuration names (the
// seeds name one that refuses at once).
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Property.h"
#include "orba/Logger.h"
#include "orba/Plugin.h"
#include "orba/StringUtil.h"
#include "plugin/CommandKeys.h"
#include "plugin/JsonValue.h"
#include "plugin/ModuleCommands.h"
#include "plugin/OrbaJsonException.h"
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
    services.removeValue = [](const std::string& name) {
        world().store.erase(name);
        return true;
    };
    services.makeUuid = [] { return "uuid-" + std::to_string(++world().uuidsMade); };
    services.osVersion = [] { return std::string("10.0.19045.3803"); };
    // Accepted and refused answers alternate, so that both outcomes follow a send.
    services.post = [](const ORBA::HttpRequest&) {
        return ORBA::HttpResult{world().posts++ % 2 == 0 ? 202 : 500, -1, ""};
    };
    return fakes;
}

void resetTracker() {
    world() = FakeWorld();
    ORBA::PluginState& state = ORBA::pluginState();
    state.trackerEnabled = false;
    state.activeModule.reset();
    state.consent = ORBA::ConsentDecision::None;
    state.consentRequired = false;
    state.heldLaunch = ORBA::PluginState::HeldLaunch::None;
    ORBA::setModuleFactory(ORBA::builtInModuleFactory(makeFakeServices()));
    *ORBA::sharedContext() = ORBA::OndrixContext();
}

std::string& stateHome() {
    static std::string folder;
    return folder;
}

void removeStateHome() {
    std::error_code ignored;
    std::filesystem::remove_all(stateHome(), ignored);
}

// A refused command is logged as one of a few fixed phrases and a byte number: a text of any
// other shape might hold some of the command, a dev key among it.
bool toldInOwnWords(std::string_view message) {
    if (message == "command text nested deeper than 128 levels") return true;
    constexpr std::string_view kPrefix = "command text is not valid JSON: ";
    if (message.substr(0, kPrefix.size()) != kPrefix) return false;
    message.remove_prefix(kPrefix.size());
    if (message == "empty text") return true;
    for (const std::string_view phrase : {"syntax error at byte ", "invalid UTF-8 at byte ",
                                          "number out of range at byte ",
                                          "unexpected end after byte "}) {
        if (message.substr(0, phrase.size()) != phrase) continue;
        const std::string_view number = message.substr(phrase.size());
        return !number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos;
    }
    return false;
}

// FlushTracker waits until the outbox is empty, and with an endpoint that refuses it never is:
// each would hold the run for its whole time-out.
bool waitsOnTheNetwork(const std::string& command) {
    try {
        const std::string name = ORBA::parseCommandText(command)[ORBA::Keys::kEvent].asString();
        return ORBA::Core::StringUtil::isEqual(name, ORBA::Keys::kFlushTracker,
                                              ORBA::Core::CaseSensitive);
    } catch (const ORBA::Core::ORBAJsonException& error) {
        check(toldInOwnWords(error.what()), "a refused command is logged without its text");
        return false;  // the library refuses it before any wait
    } catch (...) {
        return false;
    }
}

}  // namespace

// Background delivery keeps its outbox under $XDG_STATE_HOME: a private temporary folder, so that
// a run never writes into the user's home, removed when the run ends (after the library's own
// exit handling, registered later, has stopped its threads).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/orba-fuzz-state-XXXXXX";
    if (::mkdtemp(pattern) == nullptr || ::setenv("XDG_STATE_HOME", pattern, 1) != 0) {
        std::fprintf(stderr, "no private state folder for the fuzz run\n");
        std::abort();
    }
    stateHome() = pattern;
    std::atexit(removeStateHome);
    return 0;
}

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
        if (!waitsOnTheNetwork(command)) {
            TriggerOrbaThirdPartyTrackerEventCallbackFunc(command.c_str());
        }
        begin = end + 1;
    }
    return 0;
}
