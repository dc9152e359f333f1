#include "tracker/TrackerServices.h"

#include "orba/Misc.h"
#include "platform/IdentityStore.h"

namespace ORBA {

TrackerServices platformTrackerServices() {
    TrackerServices services;
    services.readValue = Platform::readIdentityValue;
    services.writeValue = Platform::writeIdentityValue;
    services.updateValue = Platform::updateIdentityValue;
    services.makeUuid = Platform::makeUuid;
    services.osVersion = [] { return Platform::Misc::getOsVersion(); };
    services.post = postHttpRequest;
    return services;
}

}  // namespace ORBA
