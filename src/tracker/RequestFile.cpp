#include "tracker/RequestFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "core/Hex.h"
#include "core/Json.h"

namespace ORBA {
namespace RequestFile {
namespace {

constexpr std::string_view kMagic = "ORBA outbox request ";
constexpr std::string_view kVersion = "1";
// File names stay well inside every file system's limit; longer app ids keep a readable start
// and a hash of the whole.
constexpr std::size_t kMaxFolderNameLength = 96;
constexpr std::size_t kKeptNameLength = 60;

void appendField(std::string& out, std::string_view name, std::string_view value) {
    out.append(name);
    out.push_back(' ');
    out += std::to_string(value.size());
    out.push_back('\n');
    out.append(value);
    out.push_back('\n');
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    // Reads `expected` exactly.
    bool literal(std::string_view expected) {
        if (text_.size() - pos_ < expected.size()) {
            truncated_ = text_.compare(pos_, std::string_view::npos,
                                       expected.substr(0, text_.size() - pos_)) == 0;
            return false;
        }
        if (text_.compare(pos_, expected.size(), expected) != 0) return false;
        pos_ += expected.size();
        return true;
    }

    bool field(std::string_view name, std::string& value) {
        if (!literal(name) || !literal(" ")) return false;
        std::size_t length = 0;
        std::size_t digits = 0;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && digits < 10) {
            length = length * 10 + static_cast<std::size_t>(text_[pos_] - '0');
            ++pos_;
            ++digits;
        }
        if (pos_ == text_.size()) truncated_ = true;
        // One spelling per length ("08" is not 8), so that a file reads as a request only when it
        // is exactly what writing that request makes.
        if (digits == 0 || (digits > 1 && text_[pos_ - digits] == '0') || !literal("\n")) {
            return false;
        }
        if (text_.size() - pos_ < length) {
            truncated_ = true;
            return false;
        }
        value.assign(text_.substr(pos_, length));
        pos_ += length;
        return literal("\n");
    }

    bool atEnd() const { return pos_ == text_.size(); }
    bool truncated() const { return truncated_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    bool truncated_ = false;
};

}  // namespace

const char* kindName(EventKind kind) {
    switch (kind) {
        case EventKind::FirstOpen:
            return "first-open";
        case EventKind::Session:
            return "session";
        case EventKind::InApp:
            return "in-app";
    }
    return "in-app";
}

std::optional<EventKind> kindFromName(std::string_view name) {
    for (const EventKind kind : {EventKind::FirstOpen, EventKind::Session, EventKind::InApp}) {
        if (name == kindName(kind)) return kind;
    }
    return std::nullopt;
}

// Ids sort in the order they were made: by wall-clock time, kept strictly rising within a process
// so that a clock stepped back cannot reorder one process's own requests.
std::string makeId(std::uint32_t processId) {
    static std::atomic<std::uint64_t> lastTime{0};
    static std::atomic<std::uint64_t> sequence{0};
    const auto now =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
    std::uint64_t previous = lastTime.load();
    std::uint64_t time = 0;
    do {
        time = std::max(now, previous + 1);
    } while (!lastTime.compare_exchange_weak(previous, time));
    char text[kIdLength + 1];
    std::snprintf(text, sizeof text, "%020llu-%010lu-%020llu",
                  static_cast<unsigned long long>(time),
                  static_cast<unsigned long>(processId),
                  static_cast<unsigned long long>(sequence.fetch_add(1)));
    return text;
}

bool isId(std::string_view text) {
    if (text.size() != kIdLength) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 20 || i == 31;
        if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9')) return false;
    }
    return true;
}

std::optional<std::string> idOf(const std::string& name, std::string_view suffix) {
    if (name.size() != kIdLength + suffix.size() ||
        name.compare(kIdLength, suffix.size(), suffix) != 0) {
        return std::nullopt;
    }
    std::string id = name.substr(0, kIdLength);
    if (!isId(id)) return std::nullopt;
    return id;
}

// Letters are kept lower-case only, so that two app ids differing in case never share a folder
// on a file system that ignores case; the prefix keeps clear of names Windows reserves ("con").
std::string appFolderName(const std::string& appId) {
    std::string name = "app-";
    for (const char c : appId) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            name.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            name += '%' + Core::bytesToHex(&byte, 1, true);
        }
    }
    if (name.size() > kMaxFolderNameLength) {
        std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
        for (const char c : appId) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(hash >> (56 - 8 * i));
        name = name.substr(0, kKeptNameLength) + "#" + Core::bytesToHex(bytes, sizeof bytes, false);
    }
    return name;
}

std::string encode(const std::string& appId, EventKind kind, const HttpRequest& request) {
    std::string out;
    out.reserve(160 + appId.size() + request.url.size() + request.userAgent.size() +
                request.authorization.size() + request.caFile.size() + request.body.size());
    out.append(kMagic);
    out.append(kVersion);
    out.push_back('\n');
    appendField(out, "app", appId);
    appendField(out, "kind", kindName(kind));
    appendField(out, "url", request.url);
    appendField(out, "user-agent", request.userAgent);
    appendField(out, "authorization", request.authorization);
    appendField(out, "ca-file", request.caFile);
    appendField(out, "body", request.body);
    out += "end\n";
    return out;
}

Decoded decode(std::string_view text) {
    Decoded decoded;
    Reader reader(text);
    if (!reader.literal(kMagic)) {
        decoded.problem = reader.truncated() ? "truncated" : "not a stored request";
        return decoded;
    }
    const std::size_t versionEnd = text.find('\n', kMagic.size());
    if (versionEnd == std::string_view::npos) {
        decoded.problem = "truncated";
        return decoded;
    }
    if (text.substr(kMagic.size(), versionEnd - kMagic.size()) != kVersion) {
        decoded.problem = "unknown version";
        return decoded;
    }
    reader.literal(text.substr(kMagic.size(), versionEnd + 1 - kMagic.size()));
    std::string kind;
    HttpRequest& request = decoded.request;
    const bool read = reader.field("app", decoded.appId) && reader.field("kind", kind) &&
                      reader.field("url", request.url) &&
                      reader.field("user-agent", request.userAgent) &&
                      reader.field("authorization", request.authorization) &&
                      reader.field("ca-file", request.caFile) &&
                      reader.field("body", request.body) && reader.literal("end\n");
    if (!read) {
        decoded.problem = reader.truncated() ? "truncated" : "damaged";
        return decoded;
    }
    if (!reader.atEnd()) {
        decoded.problem = "damaged";
        return decoded;
    }
    const std::optional<EventKind> parsedKind = kindFromName(kind);
    if (!parsedKind) {
        decoded.problem = "unknown kind";
        return decoded;
    }
    decoded.kind = *parsedKind;
    return decoded;
}

Class classify(std::string_view text) {
    const Decoded decoded = decode(text);
    if (decoded.problem != nullptr) return Class::Damaged;
    if (isLaunch(decoded.kind)) return Class::Launch;
    const nlohmann::json body = Core::Json::parseOrDiscarded(decoded.request.body);
    if (body.is_object()) {
        const auto name = body.find("event_name");
        if (name != body.end() && name->is_string() && *name == kPurchaseEventName) {
            return Class::Purchase;
        }
    }
    return Class::InApp;
}

}  // namespace RequestFile
}  // namespace ORBA
