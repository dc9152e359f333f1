// InitTracker, which chooses and configures the reporting module, and the account commands.
#pragma once

#include <functional>
#include <memory>

#include "plugin/JsonValue.h"
#include "tracker/IOndrixModule.h"
#include "tracker/TrackerServices.h"

namespace ORBA {

// Makes the module InitTracker installs: the Steam one when `steam` is true.
using ModuleFactory = std::function<std::unique_ptr<IOndrixModule>(bool steam)>;

// Makes the plain PC or the Steam module, each reaching the outside world through `services`.
ModuleFactory builtInModuleFactory(std::shared_ptr<const TrackerServices> services);

// Replaces how modules are made (tests install recording modules, or the built-in ones with fake
// services); empty restores the default: the built-in modules with the platform's services.
void setModuleFactory(ModuleFactory factory);

// The platform's services, one set for the process.
const std::shared_ptr<const TrackerServices>& platformServices();

// Installs a new module, configures it from InitTracker's body and, when that succeeds, starts
// the session, takes the body's context and opens the gate.
void runInitTracker(JsonValue body);
// SuccessSignIn and PlayerChange, given the whole command.
void runAccountChange(const JsonValue& command);
void runSignOut();

}  // namespace ORBA
