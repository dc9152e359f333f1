// What a reporting module is configured with: the credentials and where to send.
#pragma once

#include <string>

namespace ORBA {

struct TrackerConfig {
    std::string devKey;
    std::string appId;
    std::string appVersion;
    std::string steamAppId;
    std::string endpoint;  // "https://host[:port]" replacing the built-in event host
    std::string caFile;    // PEM authorities trusted instead of the system's
    bool backgroundDelivery = false;  // "delivery": "background": stored, then sent by the library's thread
};

}  // namespace ORBA
