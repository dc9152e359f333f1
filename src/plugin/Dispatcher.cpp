#include "orba/Plugin.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "orba/Logger.h"
#include "orba/StringUtil.h"
#include "plugin/CommandKeys.h"
#include "plugin/ConsentCommands.h"
#include "plugin/DeliveryCommands.h"
#include "plugin/Dispatcher.h"
#include "plugin/EventCommands.h"
#include "plugin/ModuleCommands.h"
#include "plugin/PluginState.h"
#include "plugin/TrackerContext.h"
#include "core/KeptForever.h"

namespace ORBA {
namespace {

bool isCommand(std::string_view name, std::string_view command) {
    return Core::StringUtil::isEqual(name, command, Core::CaseSensitive);
}

const OrbaPluginInterface kPluginInterface = {&TriggerOrbaThirdPartyTrackerEventCallbackFunc};

// No event service takes a body this large, and reading a command costs several times its length.
const std::size_t kMaxCommandBytes = 4 << 20;

// Logging at the boundary must not throw either (building the line can run out of memory).
void logBoundaryError(const char* message) noexcept {
    try {
        Core::Logger::Log(message);
    } catch (...) {
    }
}

constexpr std::string_view kCommands[] = {
    Keys::kInitTracker, Keys::kSetEnable,        Keys::kFlushTracker,
    Keys::kSetCommonContext, Keys::kSendEvent,   Keys::kSendRevenueEvent,
    Keys::kSuccessSignIn,    Keys::kSuccessSignOut, Keys::kPlayerChange,
    Keys::kSetConsent,       Keys::kForgetInstall};

bool isKnownCommand(const std::string& name) {
    for (const std::string_view command : kCommands) {
        if (name == command) return true;
    }
    return false;
}

// A name that is none of the commands: one line, whether or not the gate is open, with the right
// spelling when only the case differs.
void logUnknownCommand(const std::string& name) {
    for (const std::string_view command : kCommands) {
        if (Core::StringUtil::isEqual(name, std::string(command), Core::CaseInSensitive)) {
            Core::Logger::Log("Command \"" + name + "\" not run: command names are case-sensitive; "
                              "did you mean \"" + std::string(command) + "\"?");
            return;
        }
    }
    Core::Logger::Log(name.empty() ? std::string("Command not run: it has no \"event\" name")
                                   : "Command \"" + name + "\" not run: no such command");
}

}  // namespace

PluginState& pluginState() {
    // Never destroyed: a game's thread may still be inside a command while the process exits.
    static PluginState& state = Core::keptForever<PluginState>();
    return state;
}

void dispatchCommandText(std::string text) {
    JsonValue root = parseCommandText(text);
    std::string().swap(text);  // a large command's text is not kept beside its value
    // Member access turns an array or scalar root into an empty object: no name, no body.
    const std::string name = root[Keys::kEvent].asString();
    const bool hasBody = root.contains(Keys::kBody);
    PluginState& state = pluginState();
    if (!isKnownCommand(name)) {
        logUnknownCommand(name);
        return;
    }

    if (isCommand(name, Keys::kInitTracker)) {
        if (hasBody) runInitTracker(root.at(Keys::kBody));
    } else if (isCommand(name, Keys::kSetEnable) && hasBody) {
        const JsonValue body = root.at(Keys::kBody);
        if (body.contains(Keys::kEnable) && body.at(Keys::kEnable).is(JsonKind::Boolean)) {
            state.trackerEnabled = body.at(Keys::kEnable).asBool();
            reportHeldLaunch();
        }
    } else if (isCommand(name, Keys::kSetConsent)) {
        // Not gated: a player's "no" counts whether or not the host reports at the moment.
        runSetConsent(hasBody ? root.at(Keys::kBody) : JsonValue());
        return;
    } else if (isCommand(name, Keys::kForgetInstall)) {
        runForgetInstall(hasBody ? root.at(Keys::kBody) : JsonValue());
        return;
    } else if (isCommand(name, Keys::kFlushTracker)) {
        // Not gated: what was stored before a SetEnable false still deserves its flush.
        runFlushTracker(hasBody ? root.at(Keys::kBody) : JsonValue());
        return;
    }

    if (!state.trackerEnabled) return;
    const bool reports = isCommand(name, Keys::kSendEvent) || isCommand(name, Keys::kSendRevenueEvent);
    if (reports && !state.reportingAllowed()) {
        // Dropped, not queued: nothing about the player is built or kept before a yes.
        Core::Logger::Log(name + " dropped: the player has not agreed to reporting");
        return;
    }

    if (isCommand(name, Keys::kSetCommonContext)) {
        if (hasBody) applyCommonContext(sharedContext(), root.at(Keys::kBody));
    } else if (isCommand(name, Keys::kSendEvent)) {
        if (hasBody) runSendEvent(std::move(root[Keys::kBody]));
    } else if (isCommand(name, Keys::kSendRevenueEvent)) {
        if (hasBody) runSendRevenueEvent(root.at(Keys::kBody));
    } else if (isCommand(name, Keys::kSuccessSignIn)) {
        runAccountChange(root);
    } else if (isCommand(name, Keys::kSuccessSignOut)) {
        runSignOut();
    } else if (isCommand(name, Keys::kPlayerChange)) {
        runAccountChange(root);
    }
}

}  // namespace ORBA

extern "C" const ORBA::OrbaPluginInterface* createOrbaPluginInterface() {
    return &ORBA::kPluginInterface;
}

void TriggerOrbaThirdPartyTrackerEventCallbackFunc(const char* command) {
    if (command == nullptr) {
        ORBA::logBoundaryError("Command not run: the command text is NULL");
        return;
    }
    try {
        // Measured without reading past the limit: the text may be far longer.
        const std::size_t length = strnlen(command, ORBA::kMaxCommandBytes + 1);
        if (length > ORBA::kMaxCommandBytes) {
            ORBA::logBoundaryError("Command not run: its text is longer than 4 MiB");
            return;
        }
        ORBA::dispatchCommandText(std::string(command, length));
    } catch (const std::exception& error) {
        ORBA::logBoundaryError(error.what());
    } catch (...) {
        // Whatever is thrown, the host's thread must get control back.
        ORBA::logBoundaryError("Unknown exception in tracker command");
    }
}
