// The outside world as the reporting modules see it: the identity store, UUIDs, the OS version
// and the HTTPS post. Tests swap in fakes; everything else uses the platform's.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "tracker/HttpTransport.h"

namespace ORBA {

struct TrackerServices {
    std::function<std::string(const std::string& name, std::size_t maxBytes)> readValue;
    std::function<bool(const std::string& name, const std::string& value)> writeValue;
    // Reads `name` and stores what the update makes of it, with no other update of that value in
    // between, in this process or another; returns the value stored afterwards (or, when the
    // store fails, what the update made of the value read).
    std::function<std::string(
        const std::string& name, std::size_t maxBytes,
        const std::function<std::optional<std::string>(const std::string& current)>& update)>
        updateValue;
    std::function<std::string()> makeUuid;
    std::function<std::string()> osVersion;
    std::function<int(const HttpRequest& request)> post;
};

// The platform's implementations.
TrackerServices platformTrackerServices();

// The services in use; replaceable by tests.
TrackerServices& trackerServices();

}  // namespace ORBA
