// Process-wide dispatcher state and the command handlers it runs.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "plugin/IOndrixModule.h"
#include "plugin/JsonValue.h"

namespace ORBA {

struct PluginState {
    // Opened by a successful InitTracker, set either way by SetEnable.
    bool trackerEnabled = false;
    // The one active module; replaced by each InitTracker that has a body.
    std::unique_ptr<IOndrixModule> activeModule;
};

// The process-wide state; destroyed (with the active module) when the library unloads.
PluginState& pluginState();

// Makes the module InitTracker installs: the Steam one when `steam` is true.
using ModuleFactory = std::function<std::unique_ptr<IOndrixModule>(bool steam)>;

// Replaces how modules are made (tests install recording modules); empty restores the default.
void setModuleFactory(ModuleFactory factory);

// Parses and runs one command text. Exceptions from parsing and handlers propagate.
void dispatchCommandText(const std::string& text);

// Handlers, each given what the dispatcher found for its command.
void runInitTracker(JsonValue body);
void runAccountChange(const JsonValue& command);
void runSignOut();
void runSendEvent(JsonValue body);
void runSendRevenueEvent(JsonValue body);

// The seven purchase members built from SendRevenueEvent's "data".
nlohmann::json makePurchaseParameters(JsonValue data);

}  // namespace ORBA
