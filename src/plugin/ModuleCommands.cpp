#include "plugin/ModuleCommands.h"

#include <utility>

#include "plugin/CommandKeys.h"
#include "plugin/PluginState.h"
#include "plugin/TrackerContext.h"
#include "tracker/NativeModule.h"
#include "tracker/SteamModule.h"

namespace ORBA {
namespace {

ModuleFactory platformModuleFactory() {
    // One set for the process, so that what it learnt of the store outlives each InitTracker.
    // Never destroyed, as the rest of the process-wide state (see pluginState).
    static const std::shared_ptr<const TrackerServices>& services =
        *new std::shared_ptr<const TrackerServices>(
            std::make_shared<const TrackerServices>(platformTrackerServices()));
    return builtInModuleFactory(services);
}

ModuleFactory& moduleFactory() {
    static ModuleFactory& factory = *new ModuleFactory(platformModuleFactory());
    return factory;
}

// Steam is the default: only the Boolean false selects the plain PC module.
bool selectsSteam(const JsonValue& body) {
    if (!body.contains(Keys::kIsSteam)) return true;
    const JsonValue& isSteam = body.at(Keys::kIsSteam);
    return !isSteam.is(JsonKind::Boolean) || isSteam.asBool();
}

}  // namespace

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

    if (!state.activeModule || !state.activeModule->init(readTrackerConfig(body))) return;
    state.activeModule->startSession(false);
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
    if (accountId.empty()) return;

    module->holdSession();
    module->setCustomerUserId(accountId);
    module->startSession(true);
}

void runSignOut() {
    IOndrixModule* module = pluginState().activeModule.get();
    if (module == nullptr) return;
    module->holdSession();
    module->setCustomerUserId(std::string());
    module->startSession(true);
}

}  // namespace ORBA
