#include "tracker/EventRecord.h"

#include <iterator>
#include <stdexcept>
#include <string_view>

#include "core/Json.h"

namespace ORBA {
namespace {

// The custom parameters as one object with the attributes' text among its members, where the
// library's key order puts "customAttributes".
void appendCustomParameters(std::string& body, const nlohmann::json& parameters,
                            const std::string& attributesJson) {
    constexpr std::string_view kAttributesKey = "customAttributes";
    if (attributesJson.empty() || !parameters.is_object()) {
        Core::Json::appendTo(body, parameters);
        return;
    }
    bool first = true;
    bool attributesWritten = false;
    const auto separate = [&] {
        body += first ? '{' : ',';
        first = false;
    };
    const auto writeAttributes = [&] {
        separate();
        body.append(1, '"').append(kAttributesKey).append("\":");
        body += attributesJson;
        attributesWritten = true;
    };
    for (const auto& member : parameters.get_ref<const nlohmann::json::object_t&>()) {
        if (!attributesWritten && !(member.first < kAttributesKey)) {
            writeAttributes();
            if (member.first == kAttributesKey) continue;  // the text stands for it
        }
        separate();
        Core::Json::appendQuoted(body, member.first);
        body += ':';
        Core::Json::appendTo(body, member.second);
    }
    if (!attributesWritten) writeAttributes();
    body += '}';
}

void appendDeviceId(std::string& body, const DeviceId& id) {
    body += "{\"type\":";
    Core::Json::appendQuoted(body, id.type);
    body += ",\"value\":";
    Core::Json::appendQuoted(body, id.value);
    body += '}';
}

}  // namespace

void dismantle(nlohmann::json& value) noexcept {
    if (value.is_array()) {
        auto& elements = value.get_ref<nlohmann::json::array_t&>();
        while (!elements.empty()) {
            dismantle(elements.back());
            elements.pop_back();
        }
    } else if (value.is_object()) {
        auto& members = value.get_ref<nlohmann::json::object_t&>();
        while (!members.empty()) {
            const auto last = std::prev(members.end());
            dismantle(last->second);
            members.erase(last);
        }
    }
    value = nullptr;
}

#ifdef _WIN32
const char* const kDeviceModel = "Windows_32-bit";
#else
const char* const kDeviceModel = "Linux_64-bit";
#endif

std::string buildEventBody(const EventRecord& record, bool includeEvent, bool writeSecondDeviceId) {
    if (record.deviceIds.empty() || (writeSecondDeviceId && record.deviceIds.size() < 2)) {
        throw std::logic_error("event record lacks its device ids");
    }
    std::string body;
    // The attributes are nearly all of a large body: room for them up front spares a copy.
    if (includeEvent) body.reserve(record.customAttributesJson.size() + 1024);
    body += "{\"device_ids\":[";
    appendDeviceId(body, record.deviceIds[0]);
    if (writeSecondDeviceId) {
        body += ',';
        appendDeviceId(body, record.deviceIds[1]);
    }
    body += "],\"request_id\":";
    Core::Json::appendQuoted(body, record.requestId);
    body += ",\"device_os_version\":";
    Core::Json::appendQuoted(body, record.deviceOsVersion);
    body += ",\"device_model\":";
    Core::Json::appendQuoted(body, record.deviceModel);
    // The flag is a JSON literal; anything but "true" is written as false.
    body += ",\"limit_ad_tracking\":";
    body += record.limitAdTracking == "true" ? "true" : "false";
    body += ",\"app_version\":";
    Core::Json::appendQuoted(body, record.appVersion);
    if (includeEvent) {
        body += ",\"event_parameters\":";
        Core::Json::appendTo(body, record.eventParameters);
        body += ",\"event_name\":";
        Core::Json::appendQuoted(body, record.eventName);
        if (!record.eventCustomParameters.is_null()) {
            body += ",\"event_custom_parameters\":";
            appendCustomParameters(body, record.eventCustomParameters, record.customAttributesJson);
        }
    }
    if (!record.customerUserId.empty()) {
        body += ",\"customer_user_id\":";
        Core::Json::appendQuoted(body, record.customerUserId);
    }
    body += '}';
    return body;
}

}  // namespace ORBA
