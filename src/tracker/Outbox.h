// The durable outbox of background delivery: signed requests stored on disk until the service has
// answered them. One outbox per app id; every process that reports for that app id shares it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "tracker/EventRecord.h"
#include "tracker/HttpTransport.h"
#include "tracker/OutboxBound.h"
#include "tracker/OutboxFiles.h"

namespace ORBA {

// One stored request, exactly as it will be sent (again): same bytes, same signature.
struct StoredRequest {
    std::string id;  // orders requests first in, first out across processes; names its file
    EventKind kind = EventKind::InApp;
    HttpRequest request;
};

// Any thread may call any member at any time. store() makes no system call in the usual case
// and never waits on another thread's file work, so it stays cheap enough for the game's thread.
class Outbox {
public:
    // The outbox of `appId` in `folder` (created on first store). The platform's folder is
    // Platform::outboxFolder(). `maxRequests` is the bound; tests make it small.
    Outbox(std::string folder, std::string appId, std::size_t maxRequests = kMaxStoredRequests);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Keeps `request` where it survives this process however it ends: copied into this
    // process's intake once prepare() made one, else written as a file within the bound. False,
    // with a log line, when it could not be kept: no folder, a full disk, an in-app request while
    // only launch requests fill the outbox, or an intake full of requests not written out yet.
    bool store(EventKind kind, const HttpRequest& request);

    // The bound in bytes of the stored requests (kDefaultOutboxBytes until set), kept alongside
    // the bound in requests.
    void setMaxBytes(std::size_t maxBytes);

    // Makes this process's intake where the system maps files (and a spare part of it while it
    // fills up), writes it out, and makes a few files ahead of the next writes. For a library
    // thread.
    void prepare();
    // Writes the requests this process holds in its intake out as files, where the listing of any
    // process sees them, within the bound. pending() does it first.
    void writeOut();
    // Whether prepare() has work.
    bool wantsPreparing() const;

    // The stored requests, oldest first, after writing out this process's intake and those that
    // ended processes left. A damaged or foreign file is set aside with a log line.
    std::vector<StoredRequest> pending();

    // Removes a request once the service has answered it (delivered, or refused for good). Where
    // it cannot be removed (a read-only folder), says so once and leaves it out of this process's
    // later listings, so that this process sends it at most once.
    void remove(const std::string& id);

    // Moves a stored request out of every sender's way, into the set-aside folder, without a log
    // line: the caller says why, once for all it sets aside.
    void setAside(const std::string& id, const char* problem);

    // True while this process may send this outbox: only one process at a time sends an app id's
    // requests, so that none is sent twice at once. Taken on first call, held until destruction.
    // A lock file that cannot serve is logged once and does not stop delivery.
    bool claimSending();
    // Lets go of the claim, for when this process's sender ends.
    void releaseSending();

    // Removes every request of this app id not delivered yet: its request files, what this
    // process's intake holds, and the intakes that ended processes left (one still held by a
    // living process is its own to erase). Returns how many requests went.
    std::size_t erase();
    // Erases what was set aside in the app id's outbox (stored for another endpoint, damaged on
    // the disk); returns how many entries went.
    std::size_t eraseSetAside();
    // What waits in the outbox: its request files (count, bytes, the age of the oldest in
    // seconds) and what this process's intake holds. Lists the folder.
    struct Waiting {
        std::uint64_t requests = 0;
        std::uint64_t bytes = 0;
        std::optional<double> oldestSeconds;
    };
    Waiting waiting();
    // Whether the request `id` is still stored: not delivered, dropped or erased meanwhile.
    bool stillStored(const std::string& id) const;

    // How many requests this process stored wait still: in its intake, or as files that no
    // process has delivered, dropped or set aside yet.
    std::size_t ownWaiting();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ORBA
