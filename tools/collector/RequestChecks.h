// What the integration view says about each request the collector received: which kind it is,
// whose install it belongs to, and what in it departs from the request format the library writes
// (docs/commands.md, docs/identity.md), alone and against the requests received before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace OrbaCollector {

// One request as it reached the collector, with the answer it got.
struct ReceivedRequest {
    std::string path;
    std::string userAgent;
    std::string contentType;
    std::string body;
    bool signaturePresent = false;
    bool signatureOk = false;
    int status = 0;
};

struct Finding {
    enum class Level { Error, Warning };
    Level level = Level::Error;
    std::string field;    // "body", "user_agent", "request_id", "event_parameters.zq_currency", ...
    std::string message;
};

struct RequestCheck {
    std::string kind;       // "first_open", "session", "inapp", "purchase"; empty off the event paths
    std::string platform;   // "nativepc" or "steam"
    std::string appId;      // decoded from the path
    std::string installId;  // the "custom" device id
    std::string requestId;
    std::string eventName;
    // The sequence number of the first request with the same request_id and the same bytes:
    // this one is a retry of it.
    std::optional<std::uint64_t> retryOf;
    std::vector<Finding> findings;
};

// What earlier requests leave for the checks of later ones: the bytes each request_id was first
// seen with, and the launches of each install. Small per request, so it outlives what the view
// keeps on show.
class RequestHistory {
public:
    struct Launches {
        int firstOpens = 0;  // distinct first_open requests
        int sessions = 0;
        int accepted = 0;    // distinct launch requests answered 202 at least once
    };

    // Records `request` (sequence number `sequence`) with the check made of it.
    void add(std::uint64_t sequence, const ReceivedRequest& request, const RequestCheck& check);

    const Launches* launches(const std::string& appId, const std::string& installId) const;

    struct Sent {
        std::uint64_t sequence;
        std::uint64_t fingerprint;
        std::size_t size;
        std::string path;
        bool delivered;  // answered 2xx at least once
        bool accepted;   // answered 202 at least once: a launch that counts
    };
    const Sent* sent(const std::string& requestId) const;

    static std::uint64_t fingerprint(const std::string& bytes);

private:
    std::map<std::pair<std::string, std::string>, Launches> launches_;
    std::map<std::string, Sent> sent_;
};

// Checks one request against the format and the history of the requests before it. Pure: the
// history is only read.
RequestCheck checkRequest(const ReceivedRequest& request, const RequestHistory& history);

// The body size above which a request draws a warning: more than a single command may hold.
constexpr std::size_t kLargeBodyBytes = 4u * 1024 * 1024;

}  // namespace OrbaCollector
