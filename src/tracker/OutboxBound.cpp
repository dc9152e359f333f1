#include "tracker/OutboxBound.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/BackgroundThread.h"
#include "tracker/DeliveryStatus.h"
#include "tracker/RequestFile.h"

namespace ORBA {
namespace {

namespace fs = std::filesystem;

// A batch writes a few hundred files at most; a holder that keeps the lock longer is stuck or
// gone wrong, and the bound is then kept by this process's count alone.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr auto kLockPause = std::chrono::milliseconds(2);

}  // namespace

BoundedBatch::BoundedBatch(OutboxFiles& files, std::size_t maxRequests, std::size_t maxBytes,
                           std::atomic<bool>& lockWarned, std::chrono::milliseconds wait)
    : files_(files), maxRequests_(maxRequests), maxBytes_(maxBytes) {
    Platform::makePrivateFolders(files.folder().u8string());
    const fs::path path = files.folder() / OutboxNames::kBoundLockName;
    const std::string name = path.u8string();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    bool cleared = false;
    for (;;) {
        const Platform::FileClaim::Outcome outcome = lock_.tryClaim(name);
        if (outcome == Platform::FileClaim::Outcome::Claimed) break;
        if (outcome == Platform::FileClaim::Outcome::Unusable && !cleared) {
            // Something other than a lock file at its name: out of the way, once.
            cleared = true;
            std::error_code error;
            const fs::file_type type = fs::symlink_status(path, error).type();
            if (type != fs::file_type::regular && type != fs::file_type::not_found &&
                files.setAside(OutboxNames::kBoundLockName, "not a lock file")) {
                continue;
            }
        }
        if (outcome == Platform::FileClaim::Outcome::Held &&
            std::chrono::steady_clock::now() >= deadline && wait < kLockWait) {
            break;  // the caller may not wait: its own listing keeps the bound this once
        }
        if (outcome == Platform::FileClaim::Outcome::Unusable ||
            std::chrono::steady_clock::now() >= deadline) {
            if (!lockWarned.exchange(true)) {
                files.log(outcome == Platform::FileClaim::Outcome::Unusable
                              ? "the bound's lock file cannot be used: the bound is kept by this "
                                "process's count"
                              : "the bound's lock stays taken: the bound is kept by this "
                                "process's count");
            }
            break;
        }
        std::this_thread::sleep_for(kLockPause);
    }
    for (OutboxFiles::Listed& listed : files.listRequests()) {
        bytes_ += listed.bytes;
        entries_.push_back({std::move(listed.id), listed.bytes, std::nullopt, false});
    }
    count_ = entries_.size();
}

bool BoundedBatch::full(std::uintmax_t adding) const {
    return count_ >= maxRequests_ || bytes_ + adding > maxBytes_;
}

RequestFile::Class BoundedBatch::kindOf(Entry& entry) {
    if (!entry.kind) {
        std::string text;
        if (files_.readRequest(entry.id, text) != Platform::FileRead::Read) {
            return RequestFile::Class::Damaged;  // gone meanwhile, or unreadable: left alone
        }
        entry.kind = RequestFile::classify(text);
    }
    return *entry.kind;
}

void BoundedBatch::drop(Entry& entry, const char* what) {
    Platform::yieldToHostThreads();
    std::error_code error;
    if (fs::remove(files_.requestPath(entry.id), error)) {
        files_.log(std::string("full: dropped the oldest ") + what + " " + entry.id);
        DeliveryStatus::instance().dropped(files_.appId(), DropReason::kNoRoom);
        --count_;
        bytes_ -= std::min(bytes_, entry.bytes);
    }
    entry.gone = true;
}

bool BoundedBatch::admit(RequestFile::Class kind, std::uintmax_t bytes) {
    using RequestFile::Class;
    const bool launch = kind == Class::Launch;
    if (bytes > maxBytes_ && !launch) {
        files_.log("request of " + std::to_string(bytes) + " bytes not stored: larger than the "
                   "outbox's bound of " + std::to_string(maxBytes_) + " bytes");
        DeliveryStatus::instance().dropped(files_.appId(), DropReason::kTooLarge);
        return false;
    }
    for (; full(bytes) && nextInApp_ < entries_.size(); ++nextInApp_) {
        Entry& entry = entries_[nextInApp_];
        if (!entry.gone && kindOf(entry) == Class::InApp) drop(entry, "in-app request");
    }
    bool purchasesLeft = false;
    for (; full(bytes) && nextPurchase_ < entries_.size(); ++nextPurchase_) {
        Entry& entry = entries_[nextPurchase_];
        if (entry.gone || kindOf(entry) != Class::Purchase) continue;
        // An ordinary in-app request is the one to go, as the newest of its kind.
        if (kind != Class::Purchase && !launch) {
            purchasesLeft = true;
            break;
        }
        drop(entry, "purchase");
    }
    if (!full(bytes) || launch) return true;
    const char* what = kind == Class::Purchase ? "purchase" : "in-app request";
    files_.log(std::string(purchasesLeft ? "full of launch requests and purchases: "
                                         : "full of launch requests: ") +
               what + " not stored");
    DeliveryStatus::instance().dropped(files_.appId(), DropReason::kNoRoom);
    return false;
}

void BoundedBatch::added(const std::string& id, std::uintmax_t bytes, RequestFile::Class kind) {
    entries_.push_back({id, bytes, kind, false});
    ++count_;
    bytes_ += bytes;
}

}  // namespace ORBA
