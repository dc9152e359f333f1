// The reporter behind both modules: it keeps the credentials and the customer user id in memory,
// reports launches and in-app events, and counts accepted launches.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "tracker/EventRecord.h"
#include "tracker/TrackerClient.h"
#include "tracker/TrackerConfig.h"
#include "tracker/TrackerServices.h"

namespace ORBA {

// What sets one kind of build's reporting apart.
struct ReporterPolicy {
    const ClientFlavor* flavor;  // path word, user agent and identity value size
    // Whether startSession(true), an account change, reports a launch as a session start does.
    bool accountChangeReportsLaunch;
    // Completes every record while the reporter's steamIdEnabled is set: with the identity the
    // game's store platform gives (the build id as app version, the player's id as a second
    // device id). Null when there is none.
    void (*addPlatformIdentity)(EventRecord& record);
};

// The endpoint InitTracker configured, or the built-in one. A configured endpoint that is not an
// https:// URL is ignored with a log line.
Endpoint endpointFrom(const TrackerConfig& config);

class Reporter {
public:
    Reporter(const ReporterPolicy& policy, std::shared_ptr<const TrackerServices> services);

    // Stores the credentials and sets "session pending". `steamIdEnabled` says whether records
    // carry the platform identity, and bodies the second device id with it.
    void configure(std::string devKey, std::string appId, std::string appVersion,
                   bool steamIdEnabled, Endpoint endpoint);
    // Clears "session pending" and reports the launch, first_open or session, unless it is an
    // account change that the policy does not report.
    void startSession(bool accountChange);
    void holdSession() { sessionPending_ = true; }
    void setCustomerUserId(const std::string& customerUserId);
    // Posts an in-app event, unless "session pending" drops it.
    void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                   nlohmann::json customParameters, std::string customAttributesJson);

    bool sessionPending() const { return sessionPending_; }
    bool steamIdEnabled() const { return steamIdEnabled_; }
    const std::string& devKey() const { return devKey_; }
    const std::string& appId() const { return appId_; }
    const std::string& appVersion() const { return appVersion_; }
    const std::string& customerUserId() const { return customerUserId_; }
    const Endpoint& endpoint() const { return endpoint_; }
    const TrackerServices& services() const { return *services_; }

private:
    // A module whose init failed has no app id to report under.
    bool configured() const { return !appId_.empty(); }
    TrackerClient makeClient() const;
    EventRecord makeRecord(const TrackerClient& client) const;

    const ReporterPolicy& policy_;
    std::shared_ptr<const TrackerServices> services_;
    std::string devKey_;
    std::string appId_;
    std::string appVersion_;
    // A reporter that no init configured keeps events back until a session start.
    bool sessionPending_ = true;
    bool steamIdEnabled_ = false;
    std::string customerUserId_;
    Endpoint endpoint_;
};

}  // namespace ORBA
