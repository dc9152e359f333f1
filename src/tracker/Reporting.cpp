#include "tracker/Reporting.h"

#include <cstdint>
#include <string>
#include <utility>

#include "orba/Logger.h"
#include "tracker/TrackerServices.h"

namespace ORBA {
namespace {

const int kAccepted = 202;

}  // namespace

Endpoint endpointFrom(const TrackerConfig& config) {
    Endpoint endpoint = defaultEndpoint();
    if (!config.endpoint.empty()) {
        // Trailing slashes go, but never into the scheme: "https:///" names no host at all and
        // would otherwise leave "https:" for the paths to be appended to.
        std::string baseUrl = config.endpoint;
        while (baseUrl.size() > 8 && baseUrl.back() == '/') baseUrl.pop_back();
        if (baseUrl.rfind("https://", 0) == 0 && baseUrl.size() > 8) {
            endpoint.baseUrl = std::move(baseUrl);
        } else {
            Core::Logger::Log("Ignoring endpoint \"" + config.endpoint +
                              "\": it must start with https://");
        }
    }
    endpoint.caFile = config.caFile;
    return endpoint;
}

void reportLaunch(const TrackerClient& client, const EventRecord& record) {
    const std::int32_t counter = client.getLaunchCounter();
    if (counter < 2) {
        recordOutcome(client, client.sendFirstOpen(record), EventKind::FirstOpen);
    } else {
        recordOutcome(client, client.sendSession(record), EventKind::Session);
    }
}

void reportInApp(const TrackerClient& client, EventRecord record, const std::string& eventName,
                 const nlohmann::json& eventParameters, const nlohmann::json& customParameters) {
    record.eventName = eventName;
    record.eventParameters = eventParameters;
    record.eventCustomParameters = customParameters;
    recordOutcome(client, client.sendInApp(record), EventKind::InApp);
}

void recordOutcome(const TrackerClient& client, SendResult result, EventKind kind) {
    if (kind == EventKind::InApp || result != kAccepted) return;
    client.advanceLaunchCounter();
}

EventRecord makeBaseRecord(const TrackerClient& client, const std::string& appVersion,
                           const std::string& customerUserId) {
    EventRecord record;
    record.deviceOsVersion = trackerServices().osVersion();
    record.appVersion = appVersion;
    record.deviceModel = kDeviceModel;
    record.limitAdTracking = "false";
    record.requestId = client.makeUuid();
    record.deviceIds.push_back({"custom", client.getInstallId()});
    record.customerUserId = customerUserId;
    return record;
}

}  // namespace ORBA
