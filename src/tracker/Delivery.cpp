#include "tracker/Delivery.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <optional>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "orba/Logger.h"
#include "platform/BackgroundThread.h"
#include "platform/OutboxFolder.h"
#include "tracker/Consent.h"
#include "tracker/DeliveryStatus.h"
#include "tracker/Outbox.h"
#include "core/KeptForever.h"

namespace ORBA {

namespace {

// How long an ending process gives the sender to notice; a transfer in flight is cancelled
// meanwhile (libcurl notices within its next progress call), and one that does not end in time is
// left to the process's end.
constexpr std::chrono::milliseconds kExitGrace{800};
// How long an idle sender waits for the next request before it ends. Starting a thread costs the
// host's thread more than storing a request does, so a game that reports now and then keeps one;
// on Windows, where the thread holds the library loaded, a host's FreeLibrary takes effect when it
// ends.
constexpr std::chrono::seconds kIdleLinger{10};
// How often an idle sender looks again for requests of other processes (it sends them once it
// holds the claim) or for the claim (once the process holding it let go).
constexpr std::chrono::milliseconds kIdlePoll{250};

bool worthRetrying(int status) {
    return status == 0 || status == 408 || status == 429 || (status >= 500 && status <= 599);
}

}  // namespace

RetryStep nextRetryStep(const HttpResult& result, unsigned failures, double jitter,
                        std::chrono::milliseconds firstDelay) {
    RetryStep step;
    if (result.status >= 200 && result.status <= 299) {
        step.verdict = RetryStep::Verdict::Delivered;
        return step;
    }
    if (!worthRetrying(result.status)) {
        step.verdict = RetryStep::Verdict::Refused;
        return step;
    }
    using std::chrono::milliseconds;
    const long long longest = kLongestRetryDelay.count();
    long long base = std::max<long long>(firstDelay.count(), 1);
    for (unsigned i = 0; i < failures && base < longest; ++i) base *= 2;
    base = std::min(base, longest);
    jitter = std::min(std::max(jitter, 0.0), 1.0);
    // Spread, so that games that lost the service at the same moment do not all come back at once.
    long long delay = base * 3 / 4 + static_cast<long long>(static_cast<double>(base / 2) * jitter);
    delay = std::min(delay, longest);
    if (result.retryAfterSeconds > 0) {
        const long long asked =
            std::min<long long>(result.retryAfterSeconds, kLongestRetryAfter.count() / 1000) * 1000;
        delay = std::max(delay, asked);
    }
    step.delay = milliseconds(delay);
    return step;
}

bool DeliveryTarget::accepts(const std::string& url) const {
    // The base and the path's start, so that "https://host" cannot match "https://host.elsewhere"
    // or "https://host@elsewhere".
    const std::string prefix = baseUrl + "/v1.0/c2s/";
    return !baseUrl.empty() && url.size() > prefix.size() && url.compare(0, prefix.size(), prefix) == 0;
}

bool DeliveryClock::waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& condition,
                            std::chrono::milliseconds timeout, const std::function<bool()>& done) {
    return condition.wait_for(lock, timeout, done);
}

std::chrono::steady_clock::time_point DeliveryClock::now() { return std::chrono::steady_clock::now(); }

DeliveryEnvironment platformDeliveryEnvironment() {
    DeliveryEnvironment environment;
    environment.post = sendHttpRequest;
    environment.outboxFolder = Platform::outboxFolder;
    environment.clock = std::make_shared<DeliveryClock>();
    environment.jitter = [] {
        thread_local std::minstd_rand random(std::random_device{}());
        return std::uniform_real_distribution<double>(0.0, 1.0)(random);
    };
    // A player's revoke, made in any process of the user, stops what waits here at once.
    environment.deliveryAllowed = platformDeliveryAllowed;
    return environment;
}

struct Delivery::Engine {
    explicit Engine(DeliveryEnvironment environment) : env(std::move(environment)) {}

    struct AppOutbox {
        std::unique_ptr<Outbox> outbox;
        std::optional<DeliveryTarget> target;  // none until configured: nothing is sent
    };

    DeliveryEnvironment env;
    std::mutex mutex;
    std::condition_variable changed;  // a request was answered, or a thread ended
    std::condition_variable wake;  // an idle sender waits on it for the next store
    std::map<std::string, AppOutbox> outboxes;  // by app id
    bool running = false;                       // a sender thread is on its way
    bool idle = false;  // the sender found nothing to send after the last store
    bool preparing = false;  // a preparer thread is on its way
    std::condition_variable refill;  // the preparer waits on it until files run low
    bool refillAsked = false;
    unsigned long long stores = 0;  // requests stored, and configurations made, so far
    std::atomic<bool> stopping{false};
    std::chrono::milliseconds firstDelay = kFirstRetryDelay;

    // Called with `mutex` held.
    AppOutbox& outbox(const std::string& appId) {
        AppOutbox& box = outboxes[appId];
        // The folder is looked up when an app id is first used, as the identity store is.
        if (!box.outbox) box.outbox = std::make_unique<Outbox>(env.outboxFolder(), appId, env.maxRequests);
        return box;
    }
};

namespace {

constexpr const char* kForeignEndpoint = "stored for another endpoint";
// How often a flush looks again at requests another process sends.
constexpr std::chrono::milliseconds kFlushPoll{20};

struct Queued {
    Outbox* outbox;
    std::string appId;
    StoredRequest stored;
};

struct Configured {
    Outbox* outbox;
    std::string appId;
    std::optional<DeliveryTarget> target;
};

// The requests to send next, oldest first within each app id, each bound for its app id's
// configured target. Requests that another process is sending stay with it.
std::deque<Queued> collect(const std::vector<Configured>& outboxes) {
    std::deque<Queued> queue;
    for (const Configured& box : outboxes) {
        // Another process may be the one sending: it sees this one's requests once they are files.
        if (!box.target || !box.outbox->claimSending()) {
            box.outbox->writeOut();
            continue;
        }
        std::size_t foreign = 0;
        for (StoredRequest& stored : box.outbox->pending()) {
            if (!box.target->accepts(stored.request.url)) {
                box.outbox->setAside(stored.id, kForeignEndpoint);
                DeliveryStatus::instance().dropped(box.appId, DropReason::kOtherEndpoint);
                ++foreign;
                continue;
            }
            stored.request.caFile = box.target->caFile;
            queue.push_back({box.outbox, box.appId, std::move(stored)});
        }
        if (foreign > 0) {
            Core::Logger::Log("Outbox of app " + box.appId + ": set aside " +
                              std::to_string(foreign) +
                              " requests stored for another endpoint than the one configured");
        }
    }
    return queue;
}

// The outboxes of `outboxes` (the engine's, by app id) as the threads work on them without its lock.
template <typename OutboxMap>
std::vector<Configured> configuredOutboxes(const OutboxMap& outboxes) {
    std::vector<Configured> list;
    for (const auto& [appId, box] : outboxes) list.push_back({box.outbox.get(), appId, box.target});
    return list;
}

}  // namespace

void Delivery::startSender(const std::shared_ptr<Engine>& engine) {
    if (engine->running || engine->stopping) return;
    engine->running = true;
    if (!Platform::startBackgroundThread([engine] { runSender(engine); })) {
        engine->running = false;
        Core::Logger::Log(
            "Request stored, but no sender thread could be started: it waits for the next start");
    }
}

void Delivery::runSender(const std::shared_ptr<Engine>& engine) {
    DeliveryClock& clock = *engine->env.clock;
    std::unique_lock<std::mutex> lock(engine->mutex);
    std::deque<Queued> queue;
    unsigned failures = 0;
    // Since when the sender has found nothing to send; meaningful while `lingering` holds.
    std::chrono::steady_clock::time_point idleSince{};
    bool lingering = false;
    for (;;) {
        // Started from here rather than from a store, so that the host's thread pays for one
        // thread start at most.
        if (!engine->preparing && !engine->stopping &&
            (Platform::NamelessFile::supported() || Platform::MappedFile::supported())) {
            engine->preparing = true;
            if (!Platform::startBackgroundThread([engine] { runPreparer(engine); })) {
                engine->preparing = false;
            }
        }
        if (queue.empty()) {
            // The outboxes are read without the lock, so that the host's thread can go on storing
            // meanwhile; what it stores after this count is looked for again before the thread
            // waits.
            const unsigned long long seen = engine->stores;
            const std::vector<Configured> outboxes = configuredOutboxes(engine->outboxes);
            lock.unlock();
            queue = collect(outboxes);
            lock.lock();
            if (queue.empty() && engine->stores != seen && !engine->stopping) continue;
            if (queue.empty() && !engine->stopping) {
                engine->idle = true;
                engine->changed.notify_all();
                if (!lingering) idleSince = clock.now();
                lingering = true;
                if (clock.now() - idleSince < kIdleLinger) {
                    clock.waitFor(lock, engine->wake, kIdlePoll, [&] {
                        return engine->stopping.load() || engine->stores != seen;
                    });
                    if (!engine->stopping) continue;
                }
            }
        }
        lingering = false;
        if (queue.empty() || engine->stopping) break;
        const Queued& next = queue.front();
        lock.unlock();
        // Erased meanwhile (a player's revoke), or delivered by a process that took the claim
        // over: not sent.
        if (!next.outbox->stillStored(next.stored.id)) {
            lock.lock();
            queue.pop_front();
            failures = 0;
            continue;
        }
        if (engine->env.deliveryAllowed && !engine->env.deliveryAllowed(next.appId)) {
            Outbox* refused = next.outbox;
            const std::size_t erased = refused->erase();
            DeliveryStatus::instance().dropped(next.appId, DropReason::kNotAllowed, erased);
            Core::Logger::Log("Outbox of app " + next.appId + ": delivery is not allowed; erased " +
                              std::to_string(erased) + " stored requests");
            lock.lock();
            queue.erase(std::remove_if(queue.begin(), queue.end(),
                                       [refused](const Queued& queued) {
                                           return queued.outbox == refused;
                                       }),
                        queue.end());
            failures = 0;
            continue;
        }
        const HttpResult result = engine->env.post(next.stored.request);
        const double jitter = engine->env.jitter ? engine->env.jitter() : 0.5;
        lock.lock();
        const RetryStep step = nextRetryStep(result, failures, jitter, engine->firstDelay);
        DeliveryStatus::instance().answered(
            next.appId, result.status,
            step.verdict == RetryStep::Verdict::Retry ? std::optional(step.delay) : std::nullopt);
        if (step.verdict == RetryStep::Verdict::Retry) {
            if (failures == 0) {
                // Once a request, not once an attempt: an outage would flood the log.
                Core::Logger::Log(
                    "Stored request of app " + next.appId +
                    (result.status == 0
                         ? " got no answer: check that the endpoint is reachable and trusted" +
                               (result.failure.empty() ? std::string() : "; " + result.failure)
                         : " was answered " + std::to_string(result.status)) +
                    "; it is tried again");
            }
            ++failures;
            clock.waitFor(lock, engine->changed, step.delay, [&] { return engine->stopping.load(); });
            continue;
        }
        if (step.verdict == RetryStep::Verdict::Refused) {
            Core::Logger::Log("Stored request dropped: the service refused it with status " +
                              std::to_string(result.status));
            DeliveryStatus::instance().dropped(next.appId, DropReason::kRefused);
        }
        lock.unlock();
        next.outbox->remove(next.stored.id);
        lock.lock();
        queue.pop_front();
        failures = 0;
        engine->changed.notify_all();
    }
    // The claim goes with the sender, so that another process's sender can take it over.
    const std::vector<Configured> outboxes = configuredOutboxes(engine->outboxes);
    lock.unlock();
    for (const Configured& box : outboxes) box.outbox->releaseSending();
    releaseHttpThreadState();
    lock.lock();
    engine->running = false;
    engine->idle = false;
    engine->changed.notify_all();
}

// Makes the outboxes' intakes and files ahead of stores, and writes intakes out, while the sender
// waits on the network; waits as the sender does.
void Delivery::runPreparer(const std::shared_ptr<Engine>& engine) {
    std::unique_lock<std::mutex> lock(engine->mutex);
    while (!engine->stopping) {
        engine->refillAsked = false;
        const std::vector<Configured> outboxes = configuredOutboxes(engine->outboxes);
        lock.unlock();
        for (const Configured& box : outboxes) box.outbox->prepare();
        lock.lock();
        const bool woken = engine->refill.wait_for(lock, kIdleLinger, [&] {
            return engine->stopping.load() || engine->refillAsked;
        });
        if (!woken) break;
    }
    engine->preparing = false;
    engine->changed.notify_all();
}

Delivery::Delivery(DeliveryEnvironment environment)
    : engine_(std::make_shared<Engine>(std::move(environment))) {}

// The transport (and with libcurl, OpenSSL) is made first, so that at exit the sender is stopped
// while they still work: the reverse order would tear the library's TLS state down under a thread
// still using it. The delivery itself is never destroyed.
Delivery& Delivery::instance() {
    static Delivery& delivery = Core::keptForever<Delivery>([] {
        prepareHttpTransport();
        return platformDeliveryEnvironment();
    }());
    // Made after the transport, so that at exit it runs before any exit handler of the transport.
    struct StopAtExit {
        Delivery& delivery;
        ~StopAtExit() { delivery.stopForExit(); }
    };
    static const StopAtExit stop{delivery};
    return delivery;
}

Delivery::~Delivery() { stopForExit(); }

void Delivery::stopForExit() {
    engine_->stopping = true;
    // Under the loader lock the thread is either gone or done: touch nothing it may have held.
    if (!Platform::mayWaitForBackgroundThreads()) return;
    cancelHttpRequests();
    std::unique_lock<std::mutex> lock(engine_->mutex);
    engine_->changed.notify_all();
    engine_->wake.notify_all();
    engine_->refill.notify_all();
    // Not a join: a thread that does not come back in time keeps the engine state alive and
    // ends with the process.
    engine_->changed.wait_for(lock, kExitGrace,
                              [this] { return !engine_->running && !engine_->preparing; });
}

void Delivery::configure(const std::string& appId, const DeliveryTarget& target) {
    std::lock_guard<std::mutex> lock(engine_->mutex);
    DeliveryStatus::instance().configured(appId, true);
    Engine::AppOutbox& box = engine_->outbox(appId);
    box.target = target;
    box.outbox->setMaxBytes(target.outboxMaxBytes);
    ++engine_->stores;
    const bool wakeSender = engine_->idle;
    engine_->idle = false;
    if (engine_->running) {
        if (wakeSender) engine_->wake.notify_one();
    } else {
        startSender(engine_);
    }
}

bool Delivery::store(const std::string& appId, EventKind kind, const HttpRequest& request) {
    Outbox* box = nullptr;
    {
        std::lock_guard<std::mutex> lock(engine_->mutex);
        box = engine_->outbox(appId).outbox.get();
    }
    // Outside the lock: the sender may be reading or clearing the outbox meanwhile.
    if (!box->store(kind, request)) return false;
    const bool runningLow = box->wantsPreparing();
    std::unique_lock<std::mutex> lock(engine_->mutex);
    ++engine_->stores;
    // Each wake is a system call on this thread: a busy sender looks for new requests by itself,
    // and the preparer makes several files at once.
    const bool wakeSender = engine_->idle;
    engine_->idle = false;
    const bool wakePreparer = runningLow && engine_->preparing && !engine_->refillAsked;
    if (wakePreparer) engine_->refillAsked = true;
    if (engine_->running) {
        // After unlocking, so that the woken threads do not block at once on the lock held here.
        lock.unlock();
        if (wakeSender) engine_->wake.notify_one();
        if (wakePreparer) engine_->refill.notify_one();
    } else {
        startSender(engine_);
    }
    return true;
}

std::string Delivery::status() {
    return DeliveryStatus::instance().json([this](const std::string& appId) {
        Outbox* box = nullptr;
        {
            std::lock_guard<std::mutex> lock(engine_->mutex);
            box = engine_->outbox(appId).outbox.get();
        }
        const Outbox::Waiting found = box->waiting();
        return DeliveryStatus::Waiting{found.requests, found.bytes, found.oldestSeconds};
    });
}

std::size_t Delivery::erase(const std::string& appId) {
    Outbox* box = nullptr;
    {
        std::lock_guard<std::mutex> lock(engine_->mutex);
        box = engine_->outbox(appId).outbox.get();
    }
    const std::size_t erased = box->erase();
    DeliveryStatus::instance().erased(appId, erased);
    // What was set aside (stored for another endpoint, damaged on the disk) is about the player
    // as much as what waits to be sent.
    return erased + box->eraseSetAside();
}

bool Delivery::flush(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(engine_->mutex);
    for (;;) {
        const std::vector<Configured> outboxes = configuredOutboxes(engine_->outboxes);
        lock.unlock();
        std::size_t waiting = 0;
        for (const Configured& box : outboxes) {
            // Where another process sends, it sees this one's requests once they are files.
            box.outbox->writeOut();
            waiting += box.outbox->ownWaiting();
        }
        lock.lock();
        if (waiting == 0) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || engine_->stopping) return false;
        // A sender that ended idle meanwhile is started again: it may now hold the claim.
        startSender(engine_);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        engine_->changed.wait_for(lock, std::min(left + std::chrono::milliseconds(1), kFlushPoll));
    }
}
void Delivery::setFirstRetryDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(engine_->mutex);
    engine_->firstDelay = delay;
}

}  // namespace ORBA
