// The player's decision about being reported, kept per app id in the identity store beside the
// install identity, so that it holds across restarts and for every game process of the user.
#pragma once

#include <string>

#include "tracker/TrackerServices.h"

namespace ORBA {

enum class ConsentDecision { None, Granted, Revoked };

// The identity value holding the decision of `appId`.
std::string consentValueName(const std::string& appId);

// The stored decision; None when there is none (or the value is not one this library writes).
ConsentDecision readConsent(const TrackerServices& services, const std::string& appId);

// Stores the decision; false when the store refused it.
bool storeConsent(const TrackerServices& services, const std::string& appId, bool granted);

// Whether the platform's store lets requests of `appId` leave: not while a revoke is stored. Read
// afresh on each call, so that a revoke made by any process of the user counts at once.
bool platformDeliveryAllowed(const std::string& appId);

}  // namespace ORBA
