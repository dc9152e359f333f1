#include "plugin/ModuleCommands.h"

#include <utility>

#include "orba/Logger.h"
#include "plugin/CommandKeys.h"
#include "plugin/PluginState.h"
#include "plugin/TrackerContext.h"
#include "tracker/NativeModule.h"
#include "tracker/SteamModule.h"
#include "core/KeptForever.h"

namespace ORBA {
namespace {

ModuleFactory platformModuleFactory() { return builtInModuleFactory(platformServices()); }

ModuleFactory& moduleFactory() {
    static ModuleFactory& factory = Core::keptForever<ModuleFactory>(platformModuleFactory());
    return factory;
}

// Steam is the default: only the Boolean false selects the plain PC module.
bool selectsSteam(const JsonValue& body) {
    if (!body.contains(Keys::kIsSteam)) return true;
    const JsonValue& isSteam = body.at(Keys::kIsSteam);
    return !isSteam.is(JsonKind::Boolean) || isSteam.asBool();
}

// Reads the player's decision for the app id the module now reports under, once per InitTracker.
void readConsentOf(const IOndrixModule& module, bool required) {
    PluginState& state = pluginState();
    state.consentRequired = required;
    const std::string appId = module.reportingAppId();
    const TrackerServices* services = module.services();
    state.consent = appId.empty() || services == nullptr ? ConsentDecision::None
                                                        : readConsent(*services, appId);
    if (state.consent == ConsentDecision::Revoked) {
        Core::Logger::Log("The player declined reporting for app " + appId + ": nothing is reported");
    } else if (!state.reportingAllowed()) {
        Core::Logger::Log("Consent required: nothing is reported for app " + appId +
                          " until the player agrees");
    }
}

// An account change while the player's decision holds reports back: the id is kept in memory for
// the launch a grant reports.
bool holdAccountChange(IOndrixModule& module, const std::string& accountId) {
    PluginState& state = pluginState();
    if (state.reportingAllowed()) return false;
    module.holdSession();
    module.setCustomerUserId(accountId);
    if (state.heldLaunch == PluginState::HeldLaunch::None) {
        state.heldLaunch = PluginState::HeldLaunch::AccountChange;
    }
    return true;
}

}  // namespace

const std::shared_ptr<const TrackerServices>& platformServices() {
    // One set for the process, so that what it learnt of the store outlives each InitTracker.
    // Never destroyed, as the rest of the process-wide state (see pluginState).
    static const std::shared_ptr<const TrackerServices>& services =
        Core::keptForever<std::shared_ptr<const TrackerServices>>(
            std::make_shared<const TrackerServices>(platformTrackerServices()));
    return services;
}

ModuleFactory builtInModuleFactory(std::shared_ptr<const TrackerServices> services) {
    return [services = std::move(services)](bool steam) -> std::unique_ptr<IOndrixModule> {
        if (steam) return std::make_unique<OndrixSteamModuleImpl>(services);
        return std::make_unique<OndrixNativeModuleImpl>(services);
    };
}

void setModuleFactory(ModuleFactory factory) {
    moduleFactory() = factory ? std::move(factory) : platformModuleFactory();
}

void runInitTracker(JsonValue body) {
    PluginState& state = pluginState();
    // The new module is installed before the old one is destroyed.
    std::unique_ptr<IOndrixModule> previous = std::move(state.activeModule);
    state.activeModule = moduleFactory()(selectsSteam(body));
    previous.reset();
    // What the previous module held back went with it.
    state.heldLaunch = PluginState::HeldLaunch::None;

    const TrackerConfig config = readTrackerConfig(body);
    if (!state.activeModule || !state.activeModule->init(config)) return;
    readConsentOf(*state.activeModule, config.consentRequired);
    if (state.reportingAllowed()) {
        state.activeModule->startSession(false);
    } else {
        state.heldLaunch = PluginState::HeldLaunch::Start;
    }
    applyCommonContext(sharedContext(), std::move(body));
    state.trackerEnabled = true;
}

void runAccountChange(const JsonValue& command) {
    IOndrixModule* module = pluginState().activeModule.get();
    if (module == nullptr || !command.contains(Keys::kBody)) return;
    const JsonValue& body = command.at(Keys::kBody);
    if (!body.contains(Keys::kData)) return;
    const JsonValue& data = body.at(Keys::kData);
    const std::string accountId =
        data.contains(Keys::kAccountId) ? data.at(Keys::kAccountId).asString() : std::string();
    if (accountId.empty() || holdAccountChange(*module, accountId)) return;

    module->holdSession();
    module->setCustomerUserId(accountId);
    module->startSession(true);
}

void runSignOut() {
    IOndrixModule* module = pluginState().activeModule.get();
    if (module == nullptr || holdAccountChange(*module, std::string())) return;
    module->holdSession();
    module->setCustomerUserId(std::string());
    module->startSession(true);
}

}  // namespace ORBA
