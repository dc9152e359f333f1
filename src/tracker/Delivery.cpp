#include "tracker/Delivery.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <utility>
#include <vector>

#include "orba/Logger.h"
#include "platform/BackgroundThread.h"
#include "platform/OutboxFolder.h"
#include "tracker/Outbox.h"

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

struct Delivery::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::condition_variable wake;  // an idle sender waits on it for the next store
    std::map<std::string, std::unique_ptr<Outbox>> outboxes;  // by app id
    bool running = false;                                     // a sender thread is on its way
    bool idle = false;  // the sender found nothing to send after the last store
    bool preparing = false;  // a preparer thread is on its way
    std::condition_variable refill;  // the preparer waits on it until files run low
    bool refillAsked = false;
    unsigned long long stores = 0;                            // requests stored so far
    std::atomic<bool> stopping{false};
    std::chrono::milliseconds firstDelay = kFirstRetryDelay;

    Outbox& outbox(const std::string& appId) {
        std::unique_ptr<Outbox>& box = outboxes[appId];
        // The folder is looked up when an app id is first used, as the identity store is.
        if (!box) box = std::make_unique<Outbox>(Platform::outboxFolder(), appId);
        return *box;
    }
};

namespace {

struct Queued {
    Outbox* outbox;
    StoredRequest stored;
};

// The requests to send next, oldest first within each app id. Requests that another process is
// sending stay with it.
std::deque<Queued> collect(const std::vector<Outbox*>& outboxes) {
    std::deque<Queued> queue;
    for (Outbox* box : outboxes) {
        // Another process may be the one sending: it sees this one's requests once they are files.
        if (!box->claimSending()) {
            box->writeOut();
            continue;
        }
        for (StoredRequest& stored : box->pending()) queue.push_back({box, std::move(stored)});
    }
    return queue;
}

}  // namespace

void Delivery::runSender(const std::shared_ptr<Shared>& shared) {
    std::minstd_rand random(std::random_device{}());
    std::uniform_real_distribution<double> spread(0.0, 1.0);
    std::unique_lock<std::mutex> lock(shared->mutex);
    std::deque<Queued> queue;
    unsigned failures = 0;
    for (;;) {
        // Started from here rather than from a store, so that the host's thread pays for one
        // thread start at most.
        if (!shared->preparing && !shared->stopping &&
            (Platform::NamelessFile::supported() || Platform::MappedFile::supported())) {
            shared->preparing = true;
            if (!Platform::startBackgroundThread([shared] { runPreparer(shared); })) {
                shared->preparing = false;
            }
        }
        if (queue.empty()) {
            // The outboxes are read without the lock, so that the host's thread can go on storing
            // meanwhile; what it stores after this count is looked for again before the thread
            // waits.
            const unsigned long long seen = shared->stores;
            std::vector<Outbox*> outboxes;
            for (auto& entry : shared->outboxes) outboxes.push_back(entry.second.get());
            lock.unlock();
            queue = collect(outboxes);
            lock.lock();
            if (queue.empty() && shared->stores != seen && !shared->stopping) continue;
            if (queue.empty() && !shared->stopping) {
                shared->idle = true;
                shared->changed.notify_all();
                const bool woken = shared->wake.wait_for(lock, kIdleLinger, [&] {
                    return shared->stopping.load() || shared->stores != seen;
                });
                if (woken && !shared->stopping) continue;
            }
        }
        if (queue.empty() || shared->stopping) break;
        const Queued& next = queue.front();
        lock.unlock();
        const HttpResult result = sendHttpRequest(next.stored.request);
        lock.lock();
        const RetryStep step = nextRetryStep(result, failures, spread(random), shared->firstDelay);
        if (step.verdict == RetryStep::Verdict::Retry) {
            ++failures;
            shared->changed.wait_for(lock, step.delay, [&] { return shared->stopping.load(); });
            continue;
        }
        if (step.verdict == RetryStep::Verdict::Refused) {
            Core::Logger::Log("Stored request dropped: the service refused it with status " +
                              std::to_string(result.status));
        }
        lock.unlock();
        next.outbox->remove(next.stored.id);
        lock.lock();
        queue.pop_front();
        failures = 0;
    }
    lock.unlock();
    releaseHttpThreadState();
    lock.lock();
    shared->running = false;
    shared->idle = false;
    shared->changed.notify_all();
}

// Makes the outboxes' intakes and files ahead of stores, and writes intakes out, while the sender
// waits on the network; waits as the sender does.
void Delivery::runPreparer(const std::shared_ptr<Shared>& shared) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    while (!shared->stopping) {
        shared->refillAsked = false;
        std::vector<Outbox*> outboxes;
        for (auto& entry : shared->outboxes) outboxes.push_back(entry.second.get());
        lock.unlock();
        for (Outbox* box : outboxes) box->prepare();
        lock.lock();
        const bool woken = shared->refill.wait_for(lock, kIdleLinger, [&] {
            return shared->stopping.load() || shared->refillAsked;
        });
        if (!woken) break;
    }
    shared->preparing = false;
    shared->changed.notify_all();
}

// The transport (and with libcurl, OpenSSL) is made first, so that at exit this object is destroyed
// and the sender stopped while they still work: the reverse order would tear the library's TLS
// state down under a thread still using it.
Delivery::Delivery() : shared_(std::make_shared<Shared>()) { prepareHttpTransport(); }

Delivery& Delivery::instance() {
    static Delivery& delivery = *new Delivery;
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
    shared_->stopping = true;
    // Under the loader lock the thread is either gone or done: touch nothing it may have held.
    if (!Platform::mayWaitForBackgroundThreads()) return;
    cancelHttpRequests();
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.notify_all();
    shared_->wake.notify_all();
    shared_->refill.notify_all();
    // Not a join: a thread that does not come back in time keeps the shared state alive and
    // ends with the process.
    shared_->changed.wait_for(lock, kExitGrace,
                              [this] { return !shared_->running && !shared_->preparing; });
}

bool Delivery::store(const std::string& appId, EventKind kind, const HttpRequest& request) {
    Outbox* box = nullptr;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        box = &shared_->outbox(appId);
    }
    // Outside the lock: the sender may be reading or clearing the outbox meanwhile.
    if (!box->store(kind, request)) return false;
    const bool runningLow = box->wantsPreparing();
    std::unique_lock<std::mutex> lock(shared_->mutex);
    ++shared_->stores;
    // Each wake is a system call on this thread: a busy sender looks for new requests by itself,
    // and the preparer makes several files at once.
    const bool wakeSender = shared_->idle;
    shared_->idle = false;
    const bool wakePreparer = runningLow && shared_->preparing && !shared_->refillAsked;
    if (wakePreparer) shared_->refillAsked = true;
    if (shared_->running) {
        // After unlocking, so that the woken threads do not block at once on the lock held here.
        lock.unlock();
        if (wakeSender) shared_->wake.notify_one();
        if (wakePreparer) shared_->refill.notify_one();
    } else if (!shared_->stopping) {
        shared_->running = true;
        std::shared_ptr<Shared> shared = shared_;
        if (!Platform::startBackgroundThread([shared] { runSender(shared); })) {
            shared_->running = false;
            Core::Logger::Log(
                "Request stored, but no sender thread could be started: it waits for the next "
                "start");
        }
    }
    return true;
}

bool Delivery::flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    return shared_->changed.wait_for(lock, timeout,
                                     [this] { return !shared_->running || shared_->idle; });
}

void Delivery::setFirstRetryDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->firstDelay = delay;
}

}  // namespace ORBA
