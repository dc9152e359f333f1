// The durable outbox of background delivery: signed requests stored on disk until the service has
// answered them. One outbox per app id; every process that reports for that app id shares it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tracker/EventRecord.h"
#include "tracker/HttpTransport.h"

namespace ORBA {

// The most requests one app id's outbox holds. When it is full, the oldest in-app request makes
// room; launch requests are never dropped for room.
constexpr std::size_t kMaxStoredRequests = 1000;

// The most files an app id's outbox keeps set aside for a person to look at. Beyond it the oldest
// go, so that a folder that keeps receiving damaged or foreign files does not grow without end.
constexpr std::size_t kMaxSetAsideFiles = 100;

// One stored request, exactly as it will be sent (again): same bytes, same signature.
struct StoredRequest {
    std::string id;  // orders requests first in, first out across processes; names its file
    EventKind kind = EventKind::InApp;
    HttpRequest request;
};

// Any thread may call any member at any time; store() lists no folder in the usual case, so it
// stays cheap enough for the game's thread.
class Outbox {
public:
    // The outbox of `appId` in `folder` (created on first store). The platform's folder is
    // Platform::outboxFolder(). `maxRequests` is the bound; tests make it small.
    Outbox(std::string folder, std::string appId, std::size_t maxRequests = kMaxStoredRequests);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Writes `request` to disk before returning (no fsync: a process crash loses nothing stored, a
    // power cut may lose the last second). Makes room first when full. False, with a log line,
    // when it could not be stored, or when it is an in-app request and only launch requests fill
    // the outbox (a launch request is then stored beyond the bound).
    bool store(EventKind kind, const HttpRequest& request);

    // Makes this process's intake where the system maps files, and a few files ahead of the next
    // stores, so that a store only copies its request or writes and names one file. For a thread
    // other than the one storing.
    void prepare();
    // Writes the requests this process holds in its intake out as files, where the listing of any
    // process sees them. pending() does it first.
    void writeOut();
    // Whether prepare() has work: half the files made ahead or more are used up.
    bool wantsPreparing() const;

    // The stored requests, oldest first. A damaged or foreign file is set aside with a log line.
    std::vector<StoredRequest> pending();

    // Removes a request once the service has answered it (delivered, or refused for good).
    void remove(const std::string& id);

    // True while this process may send this outbox: only one process at a time sends an app id's
    // requests, so that none is sent twice at once. Taken on first call, held until destruction.
    bool claimSending();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace ORBA
