// The bound of an outbox, kept at every moment a request file is made: whoever makes request
// files (a library thread writing an intake out, the recovery of an ended process's intake, a
// store written directly) does so inside a batch, and one batch at a time runs per app id across
// every process, under a lock file. A batch lists the folder once and keeps its count as it goes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/OutboxFolder.h"
#include "tracker/EventRecord.h"
#include "tracker/OutboxFiles.h"
#include "tracker/RequestFile.h"

namespace ORBA {

// The most requests one app id's outbox holds. When it is full, the oldest in-app request makes
// room; launch requests are never dropped for room.
constexpr std::size_t kMaxStoredRequests = 1000;

// The most bytes of stored requests one app id's outbox holds unless InitTracker says otherwise.
constexpr std::size_t kDefaultOutboxBytes = 8 * 1024 * 1024;

class BoundedBatch {
public:
    // Waits up to `wait` for the batch lock of `files`' folder, then lists it. `lockWarned` says
    // whether a lock that cannot serve was logged already. Without the lock (taken elsewhere all
    // the while, or unusable), the batch goes on by its own listing.
    BoundedBatch(OutboxFiles& files, std::size_t maxRequests, std::size_t maxBytes,
                 std::atomic<bool>& lockWarned,
                 std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    BoundedBatch(const BoundedBatch&) = delete;
    BoundedBatch& operator=(const BoundedBatch&) = delete;

    // Whether a request file of `bytes` and class `kind` may be made now, after making room:
    // ordinary in-app requests go first, oldest first; purchases only when no other in-app
    // request is left, and never for an ordinary one; launches never. A launch is kept all the
    // same, beyond the bound, as each start has one; any other request that finds no room is
    // refused with a log line, as is one larger than the whole bound.
    bool admit(RequestFile::Class kind, std::uintmax_t bytes);
    // Counts the request file `id` made after admit(); it may make room later in the batch.
    void added(const std::string& id, std::uintmax_t bytes, RequestFile::Class kind);

private:
    struct Entry {
        std::string id;
        std::uintmax_t bytes = 0;
        std::optional<RequestFile::Class> kind;  // read when first needed
        bool gone = false;
    };
    bool full(std::uintmax_t adding) const;
    RequestFile::Class kindOf(Entry& entry);
    void drop(Entry& entry, const char* what);

    OutboxFiles& files_;
    std::size_t maxRequests_;
    std::size_t maxBytes_;
    Platform::FileClaim lock_;
    std::vector<Entry> entries_;  // the listing, oldest first, then what the batch made
    std::size_t nextInApp_ = 0;     // the oldest entry not looked at for an ordinary in-app request
    std::size_t nextPurchase_ = 0;  // the same, for a purchase
    std::size_t count_ = 0;
    std::uintmax_t bytes_ = 0;
};

}  // namespace ORBA
