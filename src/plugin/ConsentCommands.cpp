#include "plugin/ConsentCommands.h"

#include <string>

#include "orba/Logger.h"
#include "plugin/CommandKeys.h"
#include "plugin/ModuleCommands.h"
#include "plugin/PluginState.h"
#include "tracker/Consent.h"
#include "tracker/Delivery.h"
#include "tracker/TrackerClient.h"

namespace ORBA {
namespace {

// The app id a command applies to: the one the active module reports under, else the body's
// "appId". Empty when there is neither.
std::string targetAppId(const char* command, const JsonValue& body) {
    const IOndrixModule* module = pluginState().activeModule.get();
    const std::string reporting = module != nullptr ? module->reportingAppId() : std::string();
    const bool named = body.contains(Keys::kAppId) && body.at(Keys::kAppId).is(JsonKind::String);
    const std::string given = named ? body.at(Keys::kAppId).asString() : std::string();
    if (!reporting.empty()) {
        if (named && given != reporting) {
            Core::Logger::Log(std::string(command) + ": \"appId\" ignored: app " + reporting +
                              " is the one reported under");
        }
        return reporting;
    }
    if (given.empty()) {
        Core::Logger::Log(std::string(command) +
                          ": no app id to apply it to (no InitTracker yet, and no \"appId\" string "
                          "in the body); nothing changed");
    }
    return given;
}

// The store the commands work on: the active module's, else the platform's.
const TrackerServices& commandServices() {
    const IOndrixModule* module = pluginState().activeModule.get();
    const TrackerServices* services = module != nullptr ? module->services() : nullptr;
    return services != nullptr ? *services : *platformServices();
}

bool isActiveApp(const std::string& appId) {
    const IOndrixModule* module = pluginState().activeModule.get();
    return module != nullptr && !appId.empty() && module->reportingAppId() == appId;
}

}  // namespace

void reportHeldLaunch() {
    PluginState& state = pluginState();
    IOndrixModule* module = state.activeModule.get();
    if (module == nullptr || state.heldLaunch == PluginState::HeldLaunch::None ||
        !state.reportingAllowed() || !state.trackerEnabled) {
        return;
    }
    const bool accountChange = state.heldLaunch == PluginState::HeldLaunch::AccountChange;
    state.heldLaunch = PluginState::HeldLaunch::None;
    module->startSession(accountChange);
}

void runSetConsent(const JsonValue& body) {
    if (!body.contains(Keys::kGranted) || !body.at(Keys::kGranted).is(JsonKind::Boolean)) {
        Core::Logger::Log("SetConsent: \"granted\" must be true or false; nothing changed");
        return;
    }
    const bool granted = body.at(Keys::kGranted).asBool();
    const std::string appId = targetAppId("SetConsent", body);
    if (appId.empty()) return;

    if (!storeConsent(commandServices(), appId, granted)) {
        Core::Logger::Log("SetConsent: the decision for app " + appId +
                          " could not be stored; it holds for this process only");
    }
    if (isActiveApp(appId)) {
        pluginState().consent = granted ? ConsentDecision::Granted : ConsentDecision::Revoked;
    }
    if (granted) {
        Core::Logger::Log("SetConsent: the player agreed to reporting for app " + appId);
        reportHeldLaunch();
        return;
    }
    // Stored first, so that a sender of another process stops before this one erases.
    const std::size_t erased = Delivery::instance().erase(appId);
    Core::Logger::Log("SetConsent: the player declined reporting for app " + appId + "; erased " +
                      std::to_string(erased) + " requests not delivered yet");
}

void runForgetInstall(const JsonValue& body) {
    const std::string appId = targetAppId("ForgetInstall", body);
    if (appId.empty()) return;
    const bool forgotten = forgetInstallIdentity(commandServices(), appId);
    const std::size_t erased = Delivery::instance().erase(appId);
    if (!forgotten) {
        Core::Logger::Log("ForgetInstall: the install id or launch counter of app " + appId +
                          " could not be erased; erased " + std::to_string(erased) +
                          " requests not delivered yet");
        return;
    }
    Core::Logger::Log("ForgetInstall: erased the install id, the launch counter and " +
                      std::to_string(erased) + " requests not delivered yet of app " + appId);
}

}  // namespace ORBA
