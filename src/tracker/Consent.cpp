#include "tracker/Consent.h"

#include "platform/IdentityStore.h"

namespace ORBA {
namespace {

const char kConsentName[] = "ZQ_consent";
const char kGranted[] = "granted";
const char kRevoked[] = "revoked";
// Either word and its terminator, with room to spare for a hand-edited value.
const std::size_t kDecisionBytes = 64;

}  // namespace

std::string consentValueName(const std::string& appId) { return std::string(kConsentName) + "_" + appId; }

ConsentDecision readConsent(const TrackerServices& services, const std::string& appId) {
    const std::string name = consentValueName(appId);
    const std::string text = services.readOwnValue ? services.readOwnValue(name, kDecisionBytes)
                                                   : services.readValue(name, kDecisionBytes);
    if (text == kGranted) return ConsentDecision::Granted;
    if (text == kRevoked) return ConsentDecision::Revoked;
    return ConsentDecision::None;
}

bool storeConsent(const TrackerServices& services, const std::string& appId, bool granted) {
    return services.writeValue(consentValueName(appId), granted ? kGranted : kRevoked);
}

bool platformDeliveryAllowed(const std::string& appId) {
    // The library's own place only: a value that was never stored costs one failed lookup.
    return Platform::readOwnIdentityValue(consentValueName(appId), kDecisionBytes) != kRevoked;
}

}  // namespace ORBA
