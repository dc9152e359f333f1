// The reporting steps both modules share.
#pragma once

#include "tracker/TrackerConfig.h"
#include "tracker/TrackerClient.h"

namespace ORBA {

// The endpoint InitTracker configured, or the built-in one. A configured endpoint that is not an
// https:// URL is ignored with a log line.
Endpoint endpointFrom(const TrackerConfig& config);

// Posts first_open while fewer than two launches were accepted, session afterwards, and counts
// the launch when the service accepts it.
void reportLaunch(const TrackerClient& client, const EventRecord& record);

// Posts an in-app event: `record` with the event's name and parameters.
void reportInApp(const TrackerClient& client, EventRecord record, const std::string& eventName,
                 nlohmann::json eventParameters, nlohmann::json customParameters);

// Advances the launch counter after an accepted (202) first_open or session request; the counter
// stays at its largest value rather than overflowing.
void recordOutcome(const TrackerClient& client, SendResult result, EventKind kind);

// Fills the fields every record shares: OS version, device model, ad-tracking flag, request id,
// the "custom" device id (creating the install id on first use) and the customer user id.
EventRecord makeBaseRecord(const TrackerClient& client, const std::string& appVersion,
                           const std::string& customerUserId);

}  // namespace ORBA
