// What this process's delivery did since the library was loaded, per app id, for the host to ask
// (orba_tracker_status): counts of delivered, retried and dropped requests and the last answer.
// Process-wide and never destroyed; every member may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace ORBA {

// Why a request was dropped, as the status names it.
namespace DropReason {
constexpr const char* kRefused = "refused";            // the service refused it for good (4xx)
constexpr const char* kNoRoom = "noRoom";              // the outbox's bound made room
constexpr const char* kIntakeFull = "intakeFull";      // a burst outran the disk
constexpr const char* kTooLarge = "tooLarge";          // larger than the outbox's bound in bytes
constexpr const char* kNotStored = "notStored";        // the disk refused it
constexpr const char* kOtherEndpoint = "otherEndpoint";  // stored for another endpoint
constexpr const char* kNotAllowed = "notAllowed";      // the player's decision
constexpr const char* kNoAnswer = "noAnswer";          // synchronous delivery got no answer
constexpr const char* kErased = "erased";              // erased by ForgetInstall or a revoke
}  // namespace DropReason

class DeliveryStatus {
public:
    static DeliveryStatus& instance();

    // What the outbox holds for an app id, as found when asked.
    struct Waiting {
        std::uint64_t requests = 0;
        std::uint64_t bytes = 0;
        std::optional<double> oldestSeconds;
    };

    void configured(const std::string& appId, bool background);
    // An answer to a request of `appId`: delivered (2xx), to be retried after `retryIn`, or final.
    void answered(const std::string& appId, int status,
                  std::optional<std::chrono::milliseconds> retryIn = std::nullopt);
    void dropped(const std::string& appId, const char* reason, std::uint64_t count = 1);
    // Counts `count` stored requests erased at the player's request, for an app id this process
    // configured; another app id's outbox is erased without adding it to the status.
    void erased(const std::string& appId, std::uint64_t count);

    // The status as JSON text: {"apps": [{...}, ...]}, waiting counts from `waitingOf` for the
    // app ids in background mode.
    std::string json(const std::function<Waiting(const std::string& appId)>& waitingOf);

private:
    struct App {
        bool background = false;
        std::uint64_t delivered = 0;
        std::uint64_t retried = 0;
        std::map<std::string, std::uint64_t> dropped;
        std::optional<int> lastStatus;
        std::optional<std::chrono::steady_clock::time_point> nextRetry;
    };
    std::mutex mutex_;
    std::map<std::string, App> apps_;
};

}  // namespace ORBA
