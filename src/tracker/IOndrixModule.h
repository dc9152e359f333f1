// The reporting-module interface behind every tracker command.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tracker/TrackerConfig.h"
#include "tracker/TrackerServices.h"

namespace ORBA {

// State contract kept by every implementation: a successful init sets "session pending";
// startSession clears it and reports the launch; holdSession sets it; the customer user id
// changes only while it is set; events are dropped (not queued) while it is set.
class IOndrixModule {
public:
    virtual ~IOndrixModule() = default;

    // Takes the configuration InitTracker gave; true when the module is ready to report.
    virtual bool init(const TrackerConfig& config) = 0;
    virtual void startSession(bool accountChange) = 0;
    virtual void holdSession() = 0;
    virtual void setCustomerUserId(const std::string& customerUserId) = 0;
    // The parameters are handed over, so that a large event is never copied on its way out.
    // `customAttributesJson`, unless empty, is the JSON text of the custom parameters' member
    // "customAttributes", written ahead: as a value of the JSON library the attributes would be
    // held a second time beside the command's own value.
    virtual void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                           nlohmann::json customParameters, std::string customAttributesJson) = 0;

    // The app id a successful init reports under; empty before one.
    virtual std::string reportingAppId() const { return std::string(); }
    // The services the module reports through (its identity store); null when it has none.
    virtual const TrackerServices* services() const { return nullptr; }
};

}  // namespace ORBA
