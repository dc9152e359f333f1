// The integration view: a page on 127.0.0.1 that shows each request as it arrives, with the
// checks of RequestChecks.h, and the same data as JSON for scripts.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "RequestChecks.h"

namespace OrbaCollector {

class View {
public:
    // Checks `request` against those before it and keeps it on show. Called by the collector's
    // handler threads, each request once it has been answered.
    void record(const ReceivedRequest& request);

    // {"requests": [...]}: what the page shows, oldest first.
    std::string requestsJson() const;

    // Server-sent events for the requests after sequence number `after`, which it advances; waits
    // up to `wait` when there is none. False once the view stops.
    bool eventsAfter(std::uint64_t& after, std::chrono::milliseconds wait, std::string& events);

    // Routes the page, /requests.json and /events on `server`.
    void route(httplib::Server& server);

    // Ends the event streams, so that the server's threads can finish.
    void stop();

    // The oldest requests leave the page beyond these; the checks still know them.
    static constexpr std::size_t kMaxShown = 5000;
    static constexpr std::size_t kMaxShownBytes = 64u * 1024 * 1024;

private:
    struct Shown {
        std::uint64_t sequence;
        std::string json;
    };

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    RequestHistory history_;
    std::deque<Shown> shown_;
    std::size_t shownBytes_ = 0;
    std::uint64_t lastSequence_ = 0;
    bool stopping_ = false;
};

// The page, plain HTML, CSS and script with nothing fetched from elsewhere.
extern const char* const kViewPage;

}  // namespace OrbaCollector
