#include "tracker/SteamModule.h"

#include <utility>

#include "plugin/TrackerContext.h"

namespace ORBA {

void SteamReporter::configure(std::string devKey, std::string appId, bool steamIdEnabled) {
    devKey_ = std::move(devKey);
    appId_ = std::move(appId);
    steamIdEnabled_ = steamIdEnabled;
    sessionPending_ = true;
}

void SteamReporter::startSession(bool accountChange) { sessionPending_ = false; }

void SteamReporter::setCustomerUserId(const std::string& customerUserId) {
    if (sessionPending_) customerUserId_ = customerUserId;
}

void SteamReporter::sendEvent(const std::string& eventName, const nlohmann::json& eventParameters,
                              const nlohmann::json& customParameters) {
    if (sessionPending_) return;  // dropped, not queued
}

OndrixSteamModuleImpl::OndrixSteamModuleImpl() : reporter_(std::make_unique<SteamReporter>()) {}

bool OndrixSteamModuleImpl::init(const JsonValue& body) {
    TrackerConfig config = readTrackerConfig(body);
    // Without the Steam API the configured id stands in, and no Steam ID can be read.
    const bool steamApiStarted = false;
    if (config.steamAppId.empty()) return false;
    reporter_->configure(std::move(config.devKey), std::move(config.steamAppId), steamApiStarted);
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
                                      const nlohmann::json& eventParameters,
                                      const nlohmann::json& customParameters) {
    reporter_->sendEvent(eventName, eventParameters, customParameters);
}

}  // namespace ORBA
