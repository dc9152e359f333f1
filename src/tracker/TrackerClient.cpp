#include "tracker/TrackerClient.h"

#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

#include "core/CLocale.h"
#include "core/Hex.h"
#include "orba/Logger.h"
#include "tracker/DeliveryStatus.h"
#include "tracker/HttpTransport.h"

#ifndef ORBA_EVENT_HOST
#error "ORBA_EVENT_HOST must name the attribution service's event host"
#endif

namespace ORBA {
namespace {

const char kUuidName[] = "ZQ_uuid";
const char kCounterName[] = "ZQ_counter";
const SendResult kAcceptedForDelivery = 202;


const char* kindWord(EventKind kind) {
    switch (kind) {
        case EventKind::FirstOpen: return "first_open";
        case EventKind::Session: return "session";
        case EventKind::InApp: return "inapp";
    }
    return "inapp";
}

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || Core::isCDigit(c) || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// `text` as one URL path segment: only the unreserved characters stay as they are, so that an app
// id can neither end the path ("#", "?") nor reach another one ("/", or a whole "." or "..").
std::string pathSegment(const std::string& text) {
    const bool dotSegment = text == "." || text == "..";
    std::string segment;
    segment.reserve(text.size());
    for (const char c : text) {
        if (isUnreserved(c) && !(dotSegment && c == '.')) {
            segment += c;
        } else {
            const unsigned char byte = static_cast<unsigned char>(c);
            segment.append(1, '%').append(Core::bytesToHex(&byte, 1, true));
        }
    }
    return segment;
}

}  // namespace

const ClientFlavor kNativeFlavor = {"nativepc", "Native PC/HTTP Client 1.0 (", 2048};
const ClientFlavor kSteamFlavor = {"steam", "SteamLauncher/HTTP Client 1.0 (", 1024};

Endpoint defaultEndpoint() { return Endpoint{std::string("https://") + ORBA_EVENT_HOST, std::string()}; }

bool parseLaunchCounter(const std::string& text, std::int32_t& counter) {
    // Read as strtol reads it in the C locale, whatever locale the host has set.
    const Core::CInt32 number = Core::readCInt32(text);
    if (number.outcome != Core::CInt32::Outcome::Number) return false;
    counter = number.value;
    return true;
}

TrackerClient::TrackerClient(const TrackerServices& services, const std::string& devKey,
                             std::string appId, const ClientFlavor& flavor, Endpoint endpoint,
                             bool steamIdEnabled)
    : services_(services),
      devKey_(devKey),
      appId_(std::move(appId)),
      flavor_(flavor),
      endpoint_(std::move(endpoint)),
      steamIdEnabled_(steamIdEnabled) {}

std::string TrackerClient::readValue(const std::string& baseName) const {
    return services_.readValue(baseName + "_" + appId_, flavor_.valueBytes);
}

void TrackerClient::writeValue(const std::string& baseName, const std::string& text) const {
    services_.writeValue(baseName + "_" + appId_, text);
}

std::string TrackerClient::updateValue(
    const std::string& baseName,
    const std::function<std::optional<std::string>(const std::string& current)>& update) const {
    return services_.updateValue(baseName + "_" + appId_, flavor_.valueBytes, update);
}

std::string TrackerClient::makeUuid() const { return services_.makeUuid(); }

std::string TrackerClient::getInstallId() const {
    KnownValues& known = *services_.knownValues;
    const std::string name = std::string(kUuidName) + "_" + appId_;
    if (std::optional<std::string> uuid = known.find(name)) return *uuid;
    std::string uuid = readValue(kUuidName);
    if (uuid.empty()) {
        // Games starting at the same moment must agree on one install id: the first one stored
        // wins.
        const auto createIfAbsent = [this](const std::string& current) -> std::optional<std::string> {
            if (!current.empty()) return std::nullopt;
            return makeUuid();
        };
        uuid = updateValue(kUuidName, createIfAbsent);
    }
    known.remember(name, uuid);
    return uuid;
}

void TrackerClient::logDamagedCounter(const std::string& text) const {
    // One damaged value must not stop every later session start.
    Core::Logger::Log("Launch counter \"" + text + "\" of app " + appId_ +
                      " is not a number in range; starting again from 0");
}

std::int32_t TrackerClient::getLaunchCounter() const {
    std::int32_t counter = 0;
    const std::string text = readValue(kCounterName);
    if (!text.empty() && parseLaunchCounter(text, counter)) return counter;
    const std::string stored =
        updateValue(kCounterName, [this](const std::string& current) -> std::optional<std::string> {
            std::int32_t value = 0;
            if (current.empty()) return std::string("0");
            if (parseLaunchCounter(current, value)) return std::nullopt;  // mended meanwhile
            logDamagedCounter(current);
            return std::string("0");
        });
    return parseLaunchCounter(stored, counter) ? counter : 0;
}

void TrackerClient::advanceLaunchCounter() const {
    updateValue(kCounterName, [this](const std::string& current) -> std::optional<std::string> {
        std::int32_t counter = 0;
        if (!current.empty() && !parseLaunchCounter(current, counter)) {
            logDamagedCounter(current);
            counter = 0;
        }
        if (counter == std::numeric_limits<std::int32_t>::max()) return std::nullopt;
        return std::to_string(counter + 1);
    });
}

std::string TrackerClient::buildBody(const EventRecord& record, bool includeEvent) const {
    return buildEventBody(record, includeEvent, steamIdEnabled_);
}

SendResult TrackerClient::sendFirstOpen(const EventRecord& record) const {
    return post(urlFor(EventKind::FirstOpen), buildBody(record, false), EventKind::FirstOpen);
}

SendResult TrackerClient::sendSession(const EventRecord& record) const {
    return post(urlFor(EventKind::Session), buildBody(record, false), EventKind::Session);
}

SendResult TrackerClient::sendInApp(const EventRecord& record) const {
    return post(urlFor(EventKind::InApp), buildBody(record, true));
}

SendResult TrackerClient::post(const std::string& url, std::string body, EventKind kind) const {
    // The app id ends the URL and the user agent: a control character there could split the
    // request's header lines.
    for (const char c : appId_) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            Core::Logger::Log("Request not sent: the app id holds a control character");
            return 0;
        }
    }
    HttpRequest request;
    request.url = url;
    request.authorization = hmacSha256Hex(devKey_, body);
    request.body = std::move(body);
    if (request.authorization.empty()) return 0;  // an unsigned request would only be refused
    request.userAgent = userAgent();
    request.caFile = endpoint_.caFile;
    if (endpoint_.background) {
        // 202 is HTTP's "taken in, to be done later": a stored request will be delivered, so a
        // launch counts once it is stored.
        return services_.store && services_.store(appId_, kind, request) ? kAcceptedForDelivery : 0;
    }
    const HttpResult result = services_.post(request);
    const SendResult status = result.status;
    DeliveryStatus& counts = DeliveryStatus::instance();
    counts.answered(appId_, status);
    if (status == 0) {
        counts.dropped(appId_, DropReason::kNoAnswer);
    } else if (status < 200 || status > 299) {
        counts.dropped(appId_, DropReason::kRefused);
    }
    if (status < 200 || status > 299) logFailure(result, kind);
    return status;
}

void TrackerClient::logFailure(const HttpResult& result, EventKind kind) const {
    const SendResult status = result.status;
    std::string line = std::string("Request ") + kindWord(kind) + " of app " + appId_;
    if (status == 0) {
        line += " got no answer: check that the endpoint is reachable";
        line += endpoint_.caFile.empty() ? " and trusted by the system"
                                         : " and that caFile names the authority it is signed by";
        if (!result.failure.empty()) line += "; " + result.failure;
    } else if (status == 401 || status == 403) {
        line += " was refused with status " + std::to_string(status) +
                ": check the dev key and the app id";
    } else {
        line += " was refused with status " + std::to_string(status);
    }
    Core::Logger::Log(line);
}

bool forgetInstallIdentity(const TrackerServices& services, const std::string& appId) {
    const std::string uuidName = std::string(kUuidName) + "_" + appId;
    const std::string counterName = std::string(kCounterName) + "_" + appId;
    if (!services.removeValue) return false;
    // The counter first: a counter left without its id would make the next launch a session.
    const bool counterGone = services.removeValue(counterName);
    const bool uuidGone = services.removeValue(uuidName);
    services.knownValues->forget(uuidName);
    return counterGone && uuidGone;
}

std::string TrackerClient::urlFor(EventKind kind) const {
    return endpoint_.baseUrl + "/v1.0/c2s/" + kindWord(kind) + "/app/" + flavor_.pathWord + "/" +
           pathSegment(appId_);
}

std::string TrackerClient::userAgent() const {
    return flavor_.userAgentPrefix + appId_ + ")";
}

}  // namespace ORBA
