// A module that records every call made on it, for checking the command sequences.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "plugin/ModuleCommands.h"
#include "plugin/PluginState.h"
#include "plugin/TrackerContext.h"
#include "tracker/IOndrixModule.h"
#include "orba/Logger.h"

namespace OrbaTest {

struct SendEventCall {
    std::string eventName;
    nlohmann::json eventParameters;
    nlohmann::json customParameters;
};

// Shared by every module a test makes, so that it outlives the modules.
struct CallLog {
    std::vector<std::string> calls;
    std::vector<SendEventCall> events;
    std::vector<ORBA::TrackerConfig> initConfigs;
    bool initResult = true;
    int modulesMade = 0;
};

class RecordingModule : public ORBA::IOndrixModule {
public:
    RecordingModule(std::shared_ptr<CallLog> log, bool steam)
        : log_(std::move(log)), name_((steam ? "steam#" : "native#") + std::to_string(++log_->modulesMade)) {}
    ~RecordingModule() override { log_->calls.push_back(name_ + " destroyed"); }

    bool init(const ORBA::TrackerConfig& config) override {
        log_->calls.push_back(name_ + " init");
        log_->initConfigs.push_back(config);
        return log_->initResult;
    }
    void startSession(bool accountChange) override {
        log_->calls.push_back(name_ + std::string(" startSession(") + (accountChange ? "true)" : "false)"));
    }
    void holdSession() override { log_->calls.push_back(name_ + " holdSession"); }
    void setCustomerUserId(const std::string& id) override {
        log_->calls.push_back(name_ + " setCustomerUserId(" + id + ")");
    }
    void sendEvent(const std::string& eventName, nlohmann::json eventParameters,
                   nlohmann::json customParameters, std::string customAttributesJson) override {
        log_->calls.push_back(name_ + " sendEvent(" + eventName + ")");
        if (!customAttributesJson.empty()) {
            customParameters["customAttributes"] = nlohmann::json::parse(customAttributesJson);
        }
        log_->events.push_back({eventName, std::move(eventParameters), std::move(customParameters)});
    }

private:
    std::shared_ptr<CallLog> log_;
    std::string name_;
};

// Resets the process-wide plug-in state around each test and installs recording modules.
class PluginStateGuard {
public:
    // With `recordModules` false, InitTracker makes the real modules with the platform's services.
    explicit PluginStateGuard(bool recordModules = true) : log(std::make_shared<CallLog>()) {
        reset();
        if (!recordModules) return;
        ORBA::setModuleFactory([log = log](bool steam) -> std::unique_ptr<ORBA::IOndrixModule> {
            return std::make_unique<RecordingModule>(log, steam);
        });
    }
    // InitTracker makes the real modules with `services`.
    explicit PluginStateGuard(std::shared_ptr<const ORBA::TrackerServices> services)
        : log(std::make_shared<CallLog>()) {
        reset();
        ORBA::setModuleFactory(ORBA::builtInModuleFactory(std::move(services)));
    }
    ~PluginStateGuard() {
        reset();
        ORBA::setModuleFactory(nullptr);
    }

    std::shared_ptr<CallLog> log;

private:
    static void reset() {
        ORBA::pluginState().trackerEnabled = false;
        ORBA::pluginState().activeModule.reset();
        ORBA::pluginState().consent = ORBA::ConsentDecision::None;
        ORBA::pluginState().consentRequired = false;
        ORBA::pluginState().heldLaunch = ORBA::PluginState::HeldLaunch::None;
        *ORBA::sharedContext() = ORBA::OndrixContext();
        ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(false);
    }
};

}  // namespace OrbaTest
