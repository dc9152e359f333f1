// The reporting module of plain PC builds.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "tracker/IOndrixModule.h"
#include "tracker/TrackerClient.h"

namespace ORBA {

// Holds the credentials and the customer user id of a plain PC game, in memory only.
class NativeReporter {
public:
    explicit NativeReporter(std::shared_ptr<const TrackerServices> services)
        : services_(std::move(services)) {}

    // Stores the credentials and sets "session pending".
    void configure(std::string devKey, std::string appId, std::string appVersion,
                   Endpoint endpoint);
    // Clears "session pending" and reports the launch: first_open or session.
    void startSession();
    void holdSession() { sessionPending_ = true; }
    void setCustomerUserId(const std::string& customerUserId);
    // Posts an in-app event, unless "session pending" drops it.
    void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                   nlohmann::json customParameters);

    bool sessionPending() const { return sessionPending_; }
    const std::string& devKey() const { return devKey_; }
    const std::string& appId() const { return appId_; }
    const std::string& appVersion() const { return appVersion_; }
    const std::string& customerUserId() const { return customerUserId_; }
    const Endpoint& endpoint() const { return endpoint_; }

private:
    bool configured() const { return !appId_.empty(); }
    TrackerClient makeClient() const;
    EventRecord makeRecord(const TrackerClient& client) const;

    std::shared_ptr<const TrackerServices> services_;
    std::string devKey_;
    std::string appId_;
    std::string appVersion_;
    // A reporter that no init configured keeps events back until a session start.
    bool sessionPending_ = true;
    std::string customerUserId_;
    Endpoint endpoint_;
};

class OndrixNativeModuleImpl : public IOndrixModule {
public:
    explicit OndrixNativeModuleImpl(std::shared_ptr<const TrackerServices> services);

    bool init(const TrackerConfig& config) override;
    // Reports the launch on every call; `accountChange` does not matter on plain PC.
    void startSession(bool accountChange) override;
    void holdSession() override;
    void setCustomerUserId(const std::string& customerUserId) override;
    void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                   nlohmann::json customParameters) override;

    const NativeReporter& reporter() const { return *reporter_; }

private:
    std::unique_ptr<NativeReporter> reporter_;
};

}  // namespace ORBA
