#include "tracker/OutboxBound.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "tracker/RequestFile.h"

namespace ORBA {
namespace {

namespace fs = std::filesystem;

// A batch writes a few hundred files at most; a holder that keeps the lock longer is stuck or
// gone wrong, and the bound is then kept by this process's count alone.
constexpr auto kLockWait = std::chrono::seconds(2);
constexpr auto kLockPause = std::chrono::milliseconds(2);
// Far beyond any real request, small enough to read into memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

}  // namespace

BoundedBatch::BoundedBatch(OutboxFiles& files, std::size_t maxRequests,
                           std::atomic<bool>& lockWarned, std::chrono::milliseconds wait)
    : files_(files), maxRequests_(maxRequests) {
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
            waitedInVain_ = true;  // the caller may not wait: it hands its work on instead
            return;
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
    ids_ = files.listIds(false);
    count_ = ids_.size();
}

bool BoundedBatch::admit(EventKind kind) {
    for (; next_ < ids_.size() && count_ >= maxRequests_; ++next_) {
        const std::string& id = ids_[next_];
        std::string text;
        if (Platform::readWholeFile(files_.requestPath(id).u8string(), kMaxFileBytes, text) !=
            Platform::FileRead::Read) {
            continue;
        }
        const RequestFile::Decoded decoded = RequestFile::decode(text);
        if (decoded.problem != nullptr || RequestFile::isLaunch(decoded.kind)) continue;
        std::error_code error;
        if (fs::remove(files_.requestPath(id), error)) {
            files_.log("full: dropped the oldest in-app request " + id);
            --count_;
        }
    }
    if (count_ < maxRequests_) return true;
    // Only launch requests are left. A launch is stored all the same: they come once per start of
    // the game, so they cannot flood the disk, and each one matters. An in-app request is refused
    // instead, as the newest in-app request is the oldest one present.
    if (RequestFile::isLaunch(kind)) return true;
    files_.log("full of launch requests: in-app request not stored");
    return false;
}

}  // namespace ORBA
