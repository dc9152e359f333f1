#include "plugin/TrackerContext.h"

#include "orba/Logger.h"
#include "plugin/CommandKeys.h"
#include "core/KeptForever.h"

namespace ORBA {
namespace {

// The member's text when it is a String; otherwise empty. Reads through member access, so a
// non-object `value` becomes an empty object, exactly as the context rules expect.
std::string stringMember(JsonValue& value, std::string_view key) {
    const JsonValue& member = value[key];
    return member.is(JsonKind::String) ? member.asString() : std::string();
}

bool hasStringMember(const JsonValue& value, std::string_view key) {
    return value.contains(key) && value.at(key).is(JsonKind::String);
}

}  // namespace

std::shared_ptr<OndrixContext>& sharedContext() {
    // Never destroyed, as the rest of the process-wide state (see pluginState).
    static std::shared_ptr<OndrixContext>& context =
        Core::keptForever<std::shared_ptr<OndrixContext>>(std::make_shared<OndrixContext>());
    return context;
}

void applyCommonContext(const std::shared_ptr<OndrixContext>& context, JsonValue value) {
    OndrixContext fresh;
    fresh.did = stringMember(value, Keys::kDid);
    fresh.appId = stringMember(value, Keys::kAppId);
    fresh.analyticsId = stringMember(value, Keys::kAnalyticsId);
    fresh.serverId = stringMember(value, Keys::kServerId);
    fresh.orbaCountry = stringMember(value, Keys::kOrbaCountry);
    *context = std::move(fresh);
}

void writeContextTo(const std::shared_ptr<OndrixContext>& context, nlohmann::json& object) {
    object[Keys::kDid] = context->did;
    object[Keys::kAppId] = context->appId;
    object[Keys::kAnalyticsId] = context->analyticsId;
    object[Keys::kServerId] = context->serverId;
    object[Keys::kOrbaCountry] = context->orbaCountry;
}

TrackerConfig readTrackerConfig(const JsonValue& body) {
    const bool nested = body.contains(Keys::kConfig) && body.at(Keys::kConfig).is(JsonKind::Object);
    const JsonValue& source = nested ? body.at(Keys::kConfig) : body;

    TrackerConfig config;
    if (hasStringMember(source, Keys::kKey)) {
        config.devKey = source.at(Keys::kKey).asString();
    } else if (hasStringMember(source, Keys::kDevKey)) {
        config.devKey = source.at(Keys::kDevKey).asString();
    }
    if (hasStringMember(source, Keys::kAppId)) config.appId = source.at(Keys::kAppId).asString();
    if (hasStringMember(source, Keys::kSteamAppId)) {
        config.steamAppId = source.at(Keys::kSteamAppId).asString();
    }
    if (hasStringMember(source, Keys::kAppVersion)) {
        config.appVersion = source.at(Keys::kAppVersion).asString();
    }
    if (hasStringMember(source, Keys::kEndpoint)) config.endpoint = source.at(Keys::kEndpoint).asString();
    if (hasStringMember(source, Keys::kCaFile)) config.caFile = source.at(Keys::kCaFile).asString();
    if (source.contains(Keys::kDelivery)) {
        const std::string delivery = source.at(Keys::kDelivery).asString();
        if (delivery == "background") {
            config.backgroundDelivery = true;
        } else if (delivery != "sync") {
            Core::Logger::Log(
                "Unknown \"delivery\" (\"background\" or \"sync\" expected); sending synchronously");
        }
    }
    if (source.contains(Keys::kOutboxMaxBytes)) {
        const JsonValue& bound = source.at(Keys::kOutboxMaxBytes);
        const bool number = bound.is(JsonKind::Integer) || bound.is(JsonKind::Float);
        const double bytes = number ? bound.asDouble() : 0;
        // Below a few requests' worth a bound only refuses; past a terabyte it is a mistake.
        if (number && bytes >= 64 * 1024 && bytes <= 1099511627776.0) {
            config.outboxMaxBytes = static_cast<std::size_t>(bytes);
        } else {
            Core::Logger::Log("\"outboxMaxBytes\" is not a number of bytes from 65536 to 2^40; "
                              "keeping the built-in bound");
        }
    }
    if (source.contains(Keys::kConsent)) {
        // Read as required whatever it says: a misspelt value must not report a player the studio
        // meant to ask first.
        config.consentRequired = true;
        const JsonValue& consent = source.at(Keys::kConsent);
        if (!consent.is(JsonKind::String) || consent.asString() != "required") {
            Core::Logger::Log("Unknown \"consent\" (\"required\" expected); waiting for the player's consent");
        }
    }
    return config;
}

}  // namespace ORBA
