// The process-wide state the commands share: the enabled gate and the active module.
#pragma once

#include <memory>

#include "tracker/Consent.h"
#include "tracker/IOndrixModule.h"

namespace ORBA {

struct PluginState {
    // Opened by a successful InitTracker, set either way by SetEnable.
    bool trackerEnabled = false;
    // The one active module; replaced by each InitTracker that has a body.
    std::unique_ptr<IOndrixModule> activeModule;

    // The player's decision for the active module's app id: read from the store by InitTracker,
    // changed by SetConsent; kept here so that no other command touches the disk for it.
    ConsentDecision consent = ConsentDecision::None;
    // InitTracker's "consent": "required": nothing is reported before a grant.
    bool consentRequired = false;
    // What the player's decision held back, for a grant to report: InitTracker's launch, or the
    // launch of an account change.
    enum class HeldLaunch { None, Start, AccountChange };
    HeldLaunch heldLaunch = HeldLaunch::None;

    // Whether the active module may report: a stored grant, or no decision where none is needed.
    bool reportingAllowed() const {
        return consent == ConsentDecision::Granted ||
               (consent == ConsentDecision::None && !consentRequired);
    }
};

// The process-wide state, made by the first command. Never destroyed, not even at exit, where a
// game's thread may still be inside a command; an unloaded library leaves it behind.
PluginState& pluginState();

}  // namespace ORBA
