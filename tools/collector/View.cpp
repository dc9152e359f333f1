#include "View.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace OrbaCollector {
namespace {

// Now in UTC, to the millisecond ("2024-05-01T12:00:00.123Z").
std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

std::string describe(std::uint64_t sequence, const ReceivedRequest& request, const RequestCheck& check) {
    nlohmann::ordered_json entry;
    entry["seq"] = sequence;
    entry["time"] = utcNow();
    entry["path"] = request.path;
    entry["kind"] = check.kind;
    entry["platform"] = check.platform;
    entry["app_id"] = check.appId;
    entry["event_name"] = check.eventName;
    entry["install_id"] = check.installId;
    entry["request_id"] = check.requestId;
    entry["status"] = request.status;
    entry["signature"] = !request.signaturePresent ? "missing" : request.signatureOk ? "ok" : "mismatch";
    entry["user_agent"] = request.userAgent;
    entry["content_type"] = request.contentType;
    entry["size"] = request.body.size();
    entry["body"] = request.body;
    entry["retry_of"] = check.retryOf ? nlohmann::ordered_json(*check.retryOf) : nlohmann::ordered_json();
    entry["findings"] = nlohmann::ordered_json::array();
    for (const Finding& finding : check.findings) {
        entry["findings"].push_back({{"level", finding.level == Finding::Level::Error ? "error" : "warning"},
                                     {"field", finding.field},
                                     {"message", finding.message}});
    }
    // Bytes that are not UTF-8 are shown replaced rather than failing the entry.
    return entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

void View::record(const ReceivedRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Checked under the lock, so that each request sees every one numbered before it.
    const RequestCheck check = checkRequest(request, history_);
    const std::uint64_t sequence = ++lastSequence_;
    history_.add(sequence, request, check);
    shown_.push_back({sequence, describe(sequence, request, check)});
    shownBytes_ += shown_.back().json.size();
    while (shown_.size() > kMaxShown || (shownBytes_ > kMaxShownBytes && shown_.size() > 1)) {
        shownBytes_ -= shown_.front().json.size();
        shown_.pop_front();
    }
    arrived_.notify_all();
}

std::string View::requestsJson() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = "{\"requests\":[";
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        if (i > 0) text += ',';
        text += shown_[i].json;
    }
    text += "]}\n";
    return text;
}

bool View::eventsAfter(std::uint64_t& after, std::chrono::milliseconds wait, std::string& events) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, wait, [&] { return stopping_ || lastSequence_ > after; });
    if (stopping_) return false;
    events.clear();
    for (const Shown& shown : shown_) {
        if (shown.sequence <= after) continue;
        events += "id: " + std::to_string(shown.sequence) + "\ndata: " + shown.json + "\n\n";
    }
    after = lastSequence_;
    return true;
}

void View::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    arrived_.notify_all();
}

void View::route(httplib::Server& server) {
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(kViewPage, "text/html; charset=utf-8");
    });
    server.Get("/requests.json", [this](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(requestsJson(), "application/json");
    });
    // A reconnecting page says what it has (Last-Event-ID) and gets only what came since.
    server.Get("/events", [this](const httplib::Request& request, httplib::Response& response) {
        auto after = std::make_shared<std::uint64_t>(0);
        const std::string last = request.get_header_value("Last-Event-ID");
        if (!last.empty() && last.size() < 20 && last.find_first_not_of("0123456789") == std::string::npos) {
            *after = std::stoull(last);
        }
        response.set_header("Cache-Control", "no-store");
        response.set_chunked_content_provider(
            "text/event-stream", [this, after](std::size_t, httplib::DataSink& sink) {
                std::string events;
                if (!eventsAfter(*after, std::chrono::seconds(15), events)) {
                    sink.done();
                    return true;
                }
                // A comment keeps proxies and the browser from taking a quiet stream for a dead one.
                if (events.empty()) events = ": waiting\n\n";
                return sink.write(events.data(), events.size());
            });
    });
}

}  // namespace OrbaCollector
