// The bound of an outbox, kept at every moment a request file is made: whoever makes request
// files (a library thread writing an intake out, the recovery of an ended process's intake, a
// store written directly) does so inside a batch, and one batch at a time runs per app id across
// every process, under a lock file. A batch lists the folder once and keeps its count as it goes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/OutboxFolder.h"
#include "tracker/EventRecord.h"
#include "tracker/OutboxFiles.h"

namespace ORBA {

// The most requests one app id's outbox holds. When it is full, the oldest in-app request makes
// room; launch requests are never dropped for room.
constexpr std::size_t kMaxStoredRequests = 1000;

class BoundedBatch {
public:
    // Waits up to `wait` for the batch lock of `files`' folder, then lists it. `lockWarned` says
    // whether a lock that cannot serve was logged already. Without the lock (taken elsewhere all
    // the while, or unusable), the batch goes on by its own listing.
    BoundedBatch(OutboxFiles& files, std::size_t maxRequests, std::atomic<bool>& lockWarned,
                 std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    BoundedBatch(const BoundedBatch&) = delete;
    BoundedBatch& operator=(const BoundedBatch&) = delete;

    // Whether a request of `kind` may become a file now, after dropping the oldest in-app request
    // when the outbox is full. False, with a log line, for an in-app request when only launches
    // are left: a launch is kept all the same, beyond the bound, as each start has one.
    bool admit(EventKind kind);
    // Counts the request file `id` made after admit(); it may make room later in the batch.
    void added(const std::string& id) {
        ids_.push_back(id);
        ++count_;
    }
    // Whether another batch held the lock for all of the wait.
    bool waitedInVain() const { return waitedInVain_; }

private:
    OutboxFiles& files_;
    std::size_t maxRequests_;
    Platform::FileClaim lock_;
    std::vector<std::string> ids_;  // the listing, oldest first
    std::size_t next_ = 0;          // the oldest request not looked at yet
    std::size_t count_ = 0;
    bool waitedInVain_ = false;
};

}  // namespace ORBA
