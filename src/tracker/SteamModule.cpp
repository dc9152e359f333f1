#include "tracker/SteamModule.h"

#include <utility>

#include "tracker/Reporting.h"
#include "tracker/SteamApi.h"

namespace ORBA {

SteamReporter::SteamReporter(std::shared_ptr<const TrackerServices> services)
    : services_(std::move(services)) {
    SteamApi::instance().runCallbacks();
}

void SteamReporter::configure(std::string devKey, std::string appId, bool steamIdEnabled,
                              Endpoint endpoint) {
    devKey_ = std::move(devKey);
    appId_ = std::move(appId);
    steamIdEnabled_ = steamIdEnabled;
    endpoint_ = std::move(endpoint);
    sessionPending_ = true;
}

TrackerClient SteamReporter::makeClient() const {
    return TrackerClient(*services_, devKey_, appId_, kSteamFlavor, endpoint_, steamIdEnabled_);
}

EventRecord SteamReporter::makeRecord(const TrackerClient& client) const {
    // Without the Steam API there is no build id to report as the app version, and no Steam ID.
    const SteamApi& api = SteamApi::instance();
    const std::string buildId = steamIdEnabled_ ? std::to_string(api.appBuildId()) : std::string();
    EventRecord record = makeBaseRecord(client, buildId, customerUserId_);
    if (steamIdEnabled_) record.deviceIds.push_back({"steamid", std::to_string(api.steamId())});
    return record;
}

void SteamReporter::startSession(bool accountChange) {
    sessionPending_ = false;
    if (accountChange || !configured()) return;
    const TrackerClient client = makeClient();
    reportLaunch(client, makeRecord(client));
}

void SteamReporter::setCustomerUserId(const std::string& customerUserId) {
    if (sessionPending_) customerUserId_ = customerUserId;
}

void SteamReporter::sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                              nlohmann::json customParameters) {
    if (sessionPending_ || !configured()) return;  // dropped, not queued
    const TrackerClient client = makeClient();
    reportInApp(client, makeRecord(client), eventName, std::move(eventParameters),
                std::move(customParameters));
}

OndrixSteamModuleImpl::OndrixSteamModuleImpl(std::shared_ptr<const TrackerServices> services)
    : reporter_(std::make_unique<SteamReporter>(std::move(services))) {}

bool OndrixSteamModuleImpl::init(const TrackerConfig& config) {
    SteamApi& api = SteamApi::instance();
    // The running game's Steam app id wins; without the Steam API the configured one stands in.
    const bool steamApiStarted = api.init();
    std::string steamAppId = steamApiStarted ? std::to_string(api.appId()) : config.steamAppId;
    if (steamAppId.empty()) return false;
    reporter_->configure(config.devKey, std::move(steamAppId), steamApiStarted, endpointFrom(config));
    return true;
}

void OndrixSteamModuleImpl::startSession(bool accountChange) {
    reporter_->startSession(accountChange);
}

void OndrixSteamModuleImpl::holdSession() { reporter_->holdSession(); }

void OndrixSteamModuleImpl::setCustomerUserId(const std::string& customerUserId) {
    reporter_->setCustomerUserId(customerUserId);
}

void OndrixSteamModuleImpl::sendEvent(const std::string& eventName,
                                      nlohmann::json eventParameters,
                                      nlohmann::json customParameters) {
    reporter_->sendEvent(eventName, std::move(eventParameters), std::move(customParameters));
}

}  // namespace ORBA
