#include "tracker/NativeModule.h"

#include <utility>

#include "tracker/Reporting.h"

namespace ORBA {

void NativeReporter::configure(std::string devKey, std::string appId, std::string appVersion,
                               Endpoint endpoint) {
    devKey_ = std::move(devKey);
    appId_ = std::move(appId);
    appVersion_ = std::move(appVersion);
    endpoint_ = std::move(endpoint);
    sessionPending_ = true;
}

TrackerClient NativeReporter::makeClient() const {
    return TrackerClient(*services_, devKey_, appId_, kNativeFlavor, endpoint_);
}

EventRecord NativeReporter::makeRecord(const TrackerClient& client) const {
    return makeBaseRecord(client, appVersion_, customerUserId_);
}

void NativeReporter::startSession() {
    sessionPending_ = false;
    // A module whose init failed has no app id to report under.
    if (!configured()) return;
    const TrackerClient client = makeClient();
    reportLaunch(client, makeRecord(client));
}

void NativeReporter::setCustomerUserId(const std::string& customerUserId) {
    if (sessionPending_) customerUserId_ = customerUserId;
}

void NativeReporter::sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                               nlohmann::json customParameters) {
    if (sessionPending_ || !configured()) return;  // dropped, not queued
    const TrackerClient client = makeClient();
    reportInApp(client, makeRecord(client), eventName, std::move(eventParameters),
                std::move(customParameters));
}

OndrixNativeModuleImpl::OndrixNativeModuleImpl(std::shared_ptr<const TrackerServices> services)
    : reporter_(std::make_unique<NativeReporter>(std::move(services))) {}

bool OndrixNativeModuleImpl::init(const TrackerConfig& config) {
    if (config.appId.empty()) return false;
    reporter_->configure(config.devKey, config.appId, config.appVersion, endpointFrom(config));
    return true;
}

void OndrixNativeModuleImpl::startSession(bool) { reporter_->startSession(); }

void OndrixNativeModuleImpl::holdSession() { reporter_->holdSession(); }

void OndrixNativeModuleImpl::setCustomerUserId(const std::string& customerUserId) {
    reporter_->setCustomerUserId(customerUserId);
}

void OndrixNativeModuleImpl::sendEvent(const std::string& eventName,
                                       nlohmann::json eventParameters,
                                       nlohmann::json customParameters) {
    reporter_->sendEvent(eventName, std::move(eventParameters), std::move(customParameters));
}

}  // namespace ORBA
