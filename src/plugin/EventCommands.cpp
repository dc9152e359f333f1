// SendEvent and SendRevenueEvent: each becomes one sendEvent call on the active module.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "plugin/CommandKeys.h"
#include "plugin/EventCommands.h"
#include "tracker/EventRecord.h"
#include "plugin/PluginState.h"
#include "plugin/TrackerContext.h"

namespace ORBA {
namespace {


std::string stringMember(const JsonValue& data, std::string_view key) {
    if (!data.contains(key)) return std::string();
    const JsonValue& member = data.at(key);
    return member.is(JsonKind::String) ? member.asString() : std::string();
}

// The revenue as the host gave it, whether written as an integer or a floating-point number.
double revenueMember(const JsonValue& data) {
    if (!data.contains(Keys::kRevenue)) return 0.0;
    const JsonValue& member = data.at(Keys::kRevenue);
    if (member.is(JsonKind::Float) || member.is(JsonKind::Integer)) return member.asDouble();
    return 0.0;
}

// The item count as a 64-bit integer; a floating-point number counts when its value is integral
// and representable.
std::int64_t itemCountMember(const JsonValue& data) {
    if (!data.contains(Keys::kItemCount)) return 0;
    const JsonValue& member = data.at(Keys::kItemCount);
    if (member.is(JsonKind::Integer)) return member.asInteger();
    if (member.is(JsonKind::Float)) {
        const double count = member.asDouble();
        // 2^63 is exactly representable; every integral double below it fits an int64_t.
        if (std::trunc(count) == count && count >= -9223372036854775808.0 &&
            count < 9223372036854775808.0) {
            return static_cast<std::int64_t>(count);
        }
    }
    return 0;
}

}  // namespace

nlohmann::json makePurchaseParameters(JsonValue data) {
    nlohmann::json parameters = nlohmann::json::object();
    parameters["zq_revenue"] = revenueMember(data);
    parameters["zq_currency"] = stringMember(data, Keys::kCurrency);
    parameters["zq_quantity"] = itemCountMember(data);
    parameters["zq_content"] = stringMember(data, Keys::kItemDescription);
    parameters["zq_receipt_id"] = stringMember(data, Keys::kRefId);
    // The service reads this key with exactly this spelling.
    parameters["custsom_product_id"] = stringMember(data, Keys::kPid);
    parameters["zq_content_type"] = stringMember(data, Keys::kTitle);
    return parameters;
}

void runSendEvent(JsonValue body) {
    IOndrixModule* module = pluginState().activeModule.get();
    if (module == nullptr) return;
    const std::string eventName =
        body.contains(Keys::kEventName) ? body.at(Keys::kEventName).asString() : std::string();
    if (eventName.empty()) return;

    nlohmann::json customParameters = nlohmann::json::object();
    writeContextTo(sharedContext(), customParameters);
    std::string attributesJson;
    if (body.contains(Keys::kCustomAttributes) && body.at(Keys::kCustomAttributes).size() != 0) {
        // Taken over rather than copied: the attributes are most of a large command, and are
        // written as text straight away. Throws the library's type error on text that is not
        // UTF-8; nothing is sent then.
        JsonValue attributes = std::move(body[Keys::kCustomAttributes]);
        body = JsonValue();
        attributesJson = JsonValue::intoJsonText(std::move(attributes));
    }
    module->sendEvent(eventName, nlohmann::json::object(), std::move(customParameters),
                      std::move(attributesJson));
}

void runSendRevenueEvent(JsonValue body) {
    IOndrixModule* module = pluginState().activeModule.get();
    if (module == nullptr || !body.contains(Keys::kData)) return;
    const nlohmann::json eventParameters = makePurchaseParameters(body.at(Keys::kData));
    nlohmann::json customParameters = nlohmann::json::object();
    writeContextTo(sharedContext(), customParameters);
    module->sendEvent(kPurchaseEventName, eventParameters, customParameters, std::string());
}

}  // namespace ORBA
