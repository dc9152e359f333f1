#include "tracker/TrackerServices.h"

#include "orba/Misc.h"
#include "platform/IdentityStore.h"
#include "tracker/Delivery.h"
#include "core/KeptForever.h"

namespace ORBA {

TrackerServices platformTrackerServices() {
    TrackerServices services;
    services.readValue = Platform::readIdentityValue;
    services.writeValue = Platform::writeIdentityValue;
    services.updateValue = Platform::updateIdentityValue;
    services.removeValue = Platform::removeIdentityValue;
    services.readOwnValue = Platform::readOwnIdentityValue;
    services.makeUuid = Platform::makeUuid;
    // Read once: the system does not change under a running game, and reading it is a system
    // call on the host's thread for every request.
    services.osVersion = [] {
        // Never destroyed: a request may be built while the process exits.
        static const std::string& version = Core::keptForever<std::string>(Platform::Misc::getOsVersion());
        return version;
    };
    services.post = sendHttpRequest;
    services.store = [](const std::string& appId, EventKind kind, const HttpRequest& request) {
        return Delivery::instance().store(appId, kind, request);
    };
    services.configureDelivery = [](const std::string& appId, const std::string& baseUrl,
                                    const std::string& caFile, std::size_t outboxMaxBytes) {
        Delivery::instance().configure(
            appId, DeliveryTarget{baseUrl, caFile, outboxMaxBytes != 0 ? outboxMaxBytes : kDefaultOutboxBytes});
    };
    return services;
}

}  // namespace ORBA
