// What a reporting module is configured with: the credentials and where to send.
#pragma once

#include <cstddef>
#include <string>

namespace ORBA {

struct TrackerConfig {
    std::string devKey;
    std::string appId;
    std::string appVersion;
    std::string steamAppId;
    std::string endpoint;  // "https://host[:port]" replacing the built-in event host
    std::string caFile;    // PEM authorities trusted instead of the system's
    // "delivery": "background": requests are stored, then sent by the library's own thread.
    bool backgroundDelivery = false;
    // "outboxMaxBytes": the bound in bytes of the app id's outbox; 0 for the built-in one.
    std::size_t outboxMaxBytes = 0;
    // "consent": "required": nothing is reported until the player's grant is stored.
    bool consentRequired = false;
};

}  // namespace ORBA
