// The values of one event request, and how they are written as the request body.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ORBA {

// Internal request kinds; they never appear on the wire.
enum class EventKind { FirstOpen = 100, Session = 101, InApp = 102 };

// The name of the in-app event a purchase (SendRevenueEvent) reports.
inline constexpr const char* kPurchaseEventName = "zq_purchase";

// The HTTP status of a request's response; 0 when none came.
using SendResult = int;

struct DeviceId {
    std::string type;
    std::string value;
};

struct EventRecord {
    std::string deviceOsVersion;
    std::string deviceModel;
    std::string appVersion;
    std::vector<DeviceId> deviceIds;
    std::string requestId;
    std::string limitAdTracking;  // written as a JSON literal, unquoted
    std::string customerUserId;
    std::string eventName;
    nlohmann::json eventParameters;        // null unless in-app
    nlohmann::json eventCustomParameters;  // null unless in-app
    // Unless empty, the JSON text of eventCustomParameters' member "customAttributes", written
    // as given at that key's place in the object's order; ignored unless the custom parameters
    // are an object.
    std::string customAttributesJson;
};

// Frees `value` from the leaves up. The JSON library frees a container through a list of all its
// elements, which for a long array is one more copy of it.
void dismantle(nlohmann::json& value) noexcept;

// The device model reported for this platform.
extern const char* const kDeviceModel;

// Writes the body in its fixed key order: device ids (the first, plus the second when
// `writeSecondDeviceId`), request id, OS version, device model, ad-tracking flag, app version,
// then for in-app requests the parameters and name, and last the customer user id when set.
// Text values are JSON-escaped; a value that is not UTF-8 throws the JSON library's type error.
std::string buildEventBody(const EventRecord& record, bool includeEvent, bool writeSecondDeviceId);

}  // namespace ORBA
