// InitTracker, which chooses and configures the reporting module, and the account commands.
#pragma once

#include <functional>
#include <memory>

#include "plugin/JsonValue.h"
#include "tracker/IOndrixModule.h"

namespace ORBA {

// Makes the module InitTracker installs: the Steam one when `steam` is true.
using ModuleFactory = std::function<std::unique_ptr<IOndrixModule>(bool steam)>;

// Replaces how modules are made (tests install recording modules); empty restores the default.
void setModuleFactory(ModuleFactory factory);

// Installs a new module, configures it from InitTracker's body and, when that succeeds, starts
// the session, takes the body's context and opens the gate.
void runInitTracker(JsonValue body);
// SuccessSignIn and PlayerChange, given the whole command.
void runAccountChange(const JsonValue& command);
void runSignOut();

}  // namespace ORBA
