// SetConsent and ForgetInstall: the player's decision about being reported, which outlives the
// process, and the erasure of what the library keeps about an install.
#pragma once

#include "plugin/JsonValue.h"

namespace ORBA {

// Stores the body's "granted" for the active module's app id (before any InitTracker, the body's
// "appId"); a revoke erases every request of that app id not delivered yet, a grant reports the
// launch the decision held back.
void runSetConsent(const JsonValue& body);

// Erases the install id, launch counter and undelivered requests of the active module's app id
// (or the body's "appId"); the player's decision stays.
void runForgetInstall(const JsonValue& body);

// Reports the launch that the player's decision held back, once reporting is allowed and the gate
// is open.
void reportHeldLaunch();

}  // namespace ORBA
