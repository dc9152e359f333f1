// The process-wide state the commands share: the enabled gate and the active module.
#pragma once

#include <memory>

#include "tracker/IOndrixModule.h"

namespace ORBA {

struct PluginState {
    // Opened by a successful InitTracker, set either way by SetEnable.
    bool trackerEnabled = false;
    // The one active module; replaced by each InitTracker that has a body.
    std::unique_ptr<IOndrixModule> activeModule;
};

// The process-wide state, made by the first command. Never destroyed, not even at exit, where a
// game's thread may still be inside a command; an unloaded library leaves it behind.
PluginState& pluginState();

}  // namespace ORBA
