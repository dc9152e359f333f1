// The reporting module of Steam builds: reports under the Steam application id.
#pragma once

#include <memory>
#include <string>

#include "tracker/IOndrixModule.h"
#include "tracker/TrackerClient.h"

namespace ORBA {

class SteamReporter {
public:
    // Gives the Steam library a chance to dispatch its callbacks, loading it on first use.
    explicit SteamReporter(std::shared_ptr<const TrackerServices> services);

    // Stores the credentials and sets "session pending". `steamIdEnabled` says whether the
    // Steam API started, so that records may carry the build id and the player's Steam ID.
    void configure(std::string devKey, std::string appId, bool steamIdEnabled, Endpoint endpoint);
    // Clears "session pending"; reports the launch unless it is an account change.
    void startSession(bool accountChange);
    void holdSession() { sessionPending_ = true; }
    void setCustomerUserId(const std::string& customerUserId);
    void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                   nlohmann::json customParameters);

    bool sessionPending() const { return sessionPending_; }
    bool steamIdEnabled() const { return steamIdEnabled_; }
    const std::string& devKey() const { return devKey_; }
    const std::string& appId() const { return appId_; }
    const std::string& customerUserId() const { return customerUserId_; }

private:
    bool configured() const { return !appId_.empty(); }
    TrackerClient makeClient() const;
    EventRecord makeRecord(const TrackerClient& client) const;

    std::shared_ptr<const TrackerServices> services_;
    std::string devKey_;
    std::string appId_;
    bool sessionPending_ = true;
    bool steamIdEnabled_ = false;
    std::string customerUserId_;
    Endpoint endpoint_;
};

class OndrixSteamModuleImpl : public IOndrixModule {
public:
    explicit OndrixSteamModuleImpl(std::shared_ptr<const TrackerServices> services);

    // The Steam application id comes from the Steam API when it starts, else from the
    // configured "steamAppId"; init fails when neither gives one.
    bool init(const TrackerConfig& config) override;
    // An account change reports no launch.
    void startSession(bool accountChange) override;
    void holdSession() override;
    void setCustomerUserId(const std::string& customerUserId) override;
    void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                   nlohmann::json customParameters) override;

    const SteamReporter& reporter() const { return *reporter_; }

private:
    std::unique_ptr<SteamReporter> reporter_;
};

}  // namespace ORBA
