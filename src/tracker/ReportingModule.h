// What both modules share: one reporter, made with the module and destroyed with it, to which
// every operation but init goes.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "tracker/IOndrixModule.h"
#include "tracker/Reporter.h"

namespace ORBA {

class ReportingModule : public IOndrixModule {
public:
    void startSession(bool accountChange) override { reporter_->startSession(accountChange); }
    void holdSession() override { reporter_->holdSession(); }
    void setCustomerUserId(const std::string& customerUserId) override {
        reporter_->setCustomerUserId(customerUserId);
    }
    void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                   nlohmann::json customParameters, std::string customAttributesJson) override {
        reporter_->sendEvent(eventName, std::move(eventParameters), std::move(customParameters),
                             std::move(customAttributesJson));
    }

    std::string reportingAppId() const override { return reporter_->appId(); }
    const TrackerServices* services() const override { return &reporter_->services(); }

    const Reporter& reporter() const { return *reporter_; }

protected:
    ReportingModule(const ReporterPolicy& policy, std::shared_ptr<const TrackerServices> services)
        : reporter_(std::make_unique<Reporter>(policy, std::move(services))) {}

    Reporter& mutableReporter() { return *reporter_; }

private:
    std::unique_ptr<Reporter> reporter_;
};

}  // namespace ORBA
