// Background delivery: requests stored in the outbox on the host's thread and posted, oldest
// first, by one sender thread of the library's own, with retries for answers that may change.
// A second thread makes the outbox's files ahead of the stores. Both wait a while for more work
// before they end, so that the host's thread seldom pays for starting one.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tracker/EventRecord.h"
#include "tracker/HttpTransport.h"

namespace ORBA {

constexpr std::chrono::milliseconds kFirstRetryDelay{1000};
constexpr std::chrono::milliseconds kLongestRetryDelay{5 * 60 * 1000};
// A server asking for more than this is asked again after this long.
constexpr std::chrono::milliseconds kLongestRetryAfter{60 * 60 * 1000};

// What becomes of a stored request after an attempt.
struct RetryStep {
    enum class Verdict { Delivered, Refused, Retry };
    Verdict verdict = Verdict::Retry;
    std::chrono::milliseconds delay{0};  // before the next attempt, for Retry
};

// The step after an attempt that got `result`, when `failures` attempts at the same request
// failed before it. 2xx is delivered. 408, 429, 5xx and no answer at all are tried again after
// `firstDelay` doubled per earlier failure, up to kLongestRetryDelay, spread by `jitter` (0 to
// 1) over 75 % to 125 % of that, and never sooner than a Retry-After asks. Every other status is
// refused for good: the same bytes would only be refused again.
RetryStep nextRetryStep(const HttpResult& result, unsigned failures, double jitter,
                        std::chrono::milliseconds firstDelay = kFirstRetryDelay);

class Delivery {
public:
    // The process's one delivery. Never destroyed: a game's thread may still be storing while the
    // process exits, and the intake stays mapped until the end. At exit or unload the sender
    // thread is stopped without waiting on the network.
    static Delivery& instance();

    // Stores `request` in the outbox of `appId` and has the sender thread deliver it and
    // whatever else that outbox holds, from this process or an earlier one. False, with a log
    // line, when it could not be stored.
    bool store(const std::string& appId, EventKind kind, const HttpRequest& request);

    // Waits until the sender has nothing left to send or `timeout` has passed; true when
    // nothing is left. Returns at once when no sender runs.
    bool flush(std::chrono::milliseconds timeout);

    // For tests, so that retries come within their time: the first retry delay.
    void setFirstRetryDelay(std::chrono::milliseconds delay);

    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

private:
    Delivery();
    // Has the threads stop, cancels a transfer in flight and gives them a short while; never a
    // join, and nothing is destroyed.
    void stopForExit();
    // What the sender thread shares with the host's thread; the thread holds it too, so that it
    // outlives a Delivery destroyed while the thread is still on its way out.
    struct Shared;
    static void runSender(const std::shared_ptr<Shared>& shared);
    static void runPreparer(const std::shared_ptr<Shared>& shared);
    std::shared_ptr<Shared> shared_;
};

}  // namespace ORBA
