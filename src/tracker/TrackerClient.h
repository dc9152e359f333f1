// The short-lived object through which a reporting module reaches the install identity, builds
// a request body and posts it signed. A module makes one for each operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tracker/EventRecord.h"
#include "tracker/TrackerServices.h"

namespace ORBA {

// What differs between the plain PC and the Steam requests.
struct ClientFlavor {
    const char* pathWord;         // "/v1.0/c2s/<kind>/app/<pathWord>/<appId>"
    const char* userAgentPrefix;  // followed by the app id and ")"
    std::size_t valueBytes;       // the largest identity value read, terminator included
};

extern const ClientFlavor kNativeFlavor;
extern const ClientFlavor kSteamFlavor;

// Where requests go: the built-in event host, or the one InitTracker configured.
struct Endpoint {
    std::string baseUrl;  // "https://host[:port]", no trailing slash
    std::string caFile;   // PEM authorities trusted instead of the system's; empty: system
    bool background = false;  // requests go to the outbox, and the sender thread posts them
    std::size_t outboxMaxBytes = 0;  // the outbox's bound in bytes; 0: the built-in one
};

// The built-in endpoint.
Endpoint defaultEndpoint();

class TrackerClient {
public:
    // `services` and `devKey` are borrowed: the reporter that owns them outlives the client.
    TrackerClient(const TrackerServices& services, const std::string& devKey, std::string appId,
                  const ClientFlavor& flavor, Endpoint endpoint, bool steamIdEnabled = false);

    // The identity value `baseName` + "_" + app id; empty when absent or unreadable.
    std::string readValue(const std::string& baseName) const;
    void writeValue(const std::string& baseName, const std::string& text) const;
    // Stores what `update` makes of the value `baseName` + "_" + app id, with no other update of
    // it in between; returns the value stored afterwards.
    std::string updateValue(
        const std::string& baseName,
        const std::function<std::optional<std::string>(const std::string& current)>& update) const;
    std::string makeUuid() const;

    // The installation UUID, created and stored on first need.
    std::string getInstallId() const;
    // The launch counter, created as "0" on first need. A stored text that is not a number in
    // the 32-bit range is logged and rewritten as "0".
    std::int32_t getLaunchCounter() const;

    // Counts one more accepted launch; the counter stays at its largest value rather than
    // overflowing, and a damaged one is logged and counted from 0.
    void advanceLaunchCounter() const;

    std::string buildBody(const EventRecord& record, bool includeEvent) const;

    SendResult sendFirstOpen(const EventRecord& record) const;
    SendResult sendSession(const EventRecord& record) const;
    SendResult sendInApp(const EventRecord& record) const;
    // Signs `body` with the dev key and posts it to `url`; with background delivery, stores it
    // in the outbox instead and answers 202 once it is stored.
    SendResult post(const std::string& url, std::string body,
                    EventKind kind = EventKind::InApp) const;

    // The request URL; the app id is its last path segment, percent-encoded where it holds more
    // than letters, digits and "-._~".
    std::string urlFor(EventKind kind) const;
    std::string userAgent() const;
    const std::string& appId() const { return appId_; }
    const TrackerServices& services() const { return services_; }

private:
    void logDamagedCounter(const std::string& text) const;
    // Says once, in the log, why a request sent now was not delivered and what to check.
    void logFailure(const HttpResult& result, EventKind kind) const;

    const TrackerServices& services_;
    const std::string& devKey_;
    std::string appId_;
    const ClientFlavor& flavor_;
    Endpoint endpoint_;
    bool steamIdEnabled_;
};

// Removes the install id and launch counter of `appId` from the store and from what this process
// learnt of them, so that the next launch is a first one with a new id. False when the store kept
// either of them.
bool forgetInstallIdentity(const TrackerServices& services, const std::string& appId);

// Reads a counter text the way strtol does (leading blanks, optional sign, digits; anything
// after the digits ignored). Returns false when no number starts the text or it leaves the
// signed 32-bit range.
bool parseLaunchCounter(const std::string& text, std::int32_t& counter);

}  // namespace ORBA
