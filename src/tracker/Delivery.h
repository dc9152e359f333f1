// Background delivery: requests stored in the outbox on the host's thread and posted, oldest
// first, by one sender thread of the library's own, with retries for answers that may change.
// A second thread makes the outbox's files ahead of the stores. Both wait a while for more work
// before they end, so that the host's thread seldom pays for starting one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "tracker/EventRecord.h"
#include "tracker/HttpTransport.h"
#include "tracker/OutboxBound.h"

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

// Where the requests of an app id go, as this process configured it: a stored request's own URL
// and authority file never choose where it goes or whom it trusts.
struct DeliveryTarget {
    std::string baseUrl;  // "https://host[:port]"
    std::string caFile;   // PEM authorities trusted instead of the system's; empty: system
    std::size_t outboxMaxBytes = kDefaultOutboxBytes;  // the bound of the app id's outbox in bytes
    // Whether `url` is a request URL of this target.
    bool accepts(const std::string& url) const;
};

// How the sender waits: real time, or in tests a clock that lets no time pass.
class DeliveryClock {
public:
    virtual ~DeliveryClock() = default;
    // Waits on `condition` (with `lock` held) until `done` holds or `timeout` passes; returns
    // whether `done` holds.
    virtual bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& condition,
                         std::chrono::milliseconds timeout, const std::function<bool()>& done);
    virtual std::chrono::steady_clock::time_point now();
};

// What delivery works with: the platform's, or fakes in tests.
struct DeliveryEnvironment {
    std::function<HttpResult(const HttpRequest&)> post;
    std::function<std::string()> outboxFolder;  // the folder of every app id's outbox
    std::shared_ptr<DeliveryClock> clock;
    std::function<double()> jitter;  // 0 to 1, spreading retries
    std::size_t maxRequests = kMaxStoredRequests;
    // Whether requests of an app id may be sent, asked before each post (a player's decision,
    // which any process of the user may change). None: always. When it answers no, the app id's
    // stored requests are erased rather than sent.
    std::function<bool(const std::string& appId)> deliveryAllowed;
};

DeliveryEnvironment platformDeliveryEnvironment();

class Delivery {
public:
    // The process's one delivery. Never destroyed: a game's thread may still be storing while the
    // process exits, and the intake stays mapped until the end. At exit or unload the sender
    // thread is stopped without waiting on the network.
    static Delivery& instance();

    explicit Delivery(DeliveryEnvironment environment);

    // Sets where the requests of `appId` go, and has the sender deliver what its outbox holds,
    // whether or not this process stores anything (delivering frees room on a full disk). A
    // request stored for another endpoint is set aside, never sent.
    void configure(const std::string& appId, const DeliveryTarget& target);

    // Stores `request` in the outbox of `appId` and has the sender thread deliver it and
    // whatever else that outbox holds, from this process or an earlier one. False, with a log
    // line, when it could not be stored.
    bool store(const std::string& appId, EventKind kind, const HttpRequest& request);

    // This process's delivery status as JSON (see DeliveryStatus.h); lists each outbox.
    std::string status();

    // Erases every request of `appId` not delivered yet (see Outbox::erase); a request already on
    // the wire is not called back. Returns how many went.
    std::size_t erase(const std::string& appId);

    // Waits until every request this process stored has been delivered (or dropped), whichever
    // process sends it, or until `timeout` has passed; true when none is left.
    bool flush(std::chrono::milliseconds timeout);

    // For tests, so that retries come within their time: the first retry delay.
    void setFirstRetryDelay(std::chrono::milliseconds delay);

    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

private:
    // Has the threads stop, cancels a transfer in flight and gives them a short while; never a
    // join, and nothing is destroyed.
    void stopForExit();
    // The outboxes by app id, and what the sender and preparer threads need to work on them with
    // the host's thread; the threads hold it too, so that it outlives a Delivery destroyed (in
    // tests) while they are still on their way out.
    struct Engine;
    static void runSender(const std::shared_ptr<Engine>& engine);
    static void runPreparer(const std::shared_ptr<Engine>& engine);
    // Starts the sender unless it runs. Called with the engine mutex held.
    static void startSender(const std::shared_ptr<Engine>& engine);
    std::shared_ptr<Engine> engine_;
};

}  // namespace ORBA
