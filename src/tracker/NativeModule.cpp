#include "tracker/NativeModule.h"

#include <utility>

#include "plugin/TrackerContext.h"

namespace ORBA {

void NativeReporter::configure(std::string devKey, std::string appId, std::string appVersion) {
    devKey_ = std::move(devKey);
    appId_ = std::move(appId);
    appVersion_ = std::move(appVersion);
    sessionPending_ = true;
}

void NativeReporter::startSession() { sessionPending_ = false; }

void NativeReporter::setCustomerUserId(const std::string& customerUserId) {
    if (sessionPending_) customerUserId_ = customerUserId;
}

void NativeReporter::sendEvent(const std::string& eventName, const nlohmann::json& eventParameters,
                               const nlohmann::json& customParameters) {
    if (sessionPending_) return;  // dropped, not queued
}

OndrixNativeModuleImpl::OndrixNativeModuleImpl() : reporter_(std::make_unique<NativeReporter>()) {}

bool OndrixNativeModuleImpl::init(const JsonValue& body) {
    TrackerConfig config = readTrackerConfig(body);
    if (config.appId.empty()) return false;
    reporter_->configure(std::move(config.devKey), std::move(config.appId),
                         std::move(config.appVersion));
    return true;
}

void OndrixNativeModuleImpl::startSession(bool) { reporter_->startSession(); }

void OndrixNativeModuleImpl::holdSession() { reporter_->holdSession(); }

void OndrixNativeModuleImpl::setCustomerUserId(const std::string& customerUserId) {
    reporter_->setCustomerUserId(customerUserId);
}

void OndrixNativeModuleImpl::sendEvent(const std::string& eventName,
                                       const nlohmann::json& eventParameters,
                                       const nlohmann::json& customParameters) {
    reporter_->sendEvent(eventName, eventParameters, customParameters);
}

}  // namespace ORBA
