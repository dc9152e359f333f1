// The stored form of one request of background delivery: its id, which orders requests first in,
// first out across processes and names its file, and the bytes of the file.
//
// The file format, version 1 (every length a decimal count of bytes):
//   "ORBA outbox request 1\n"
//   then, in this order, one field each: app, kind, url, user-agent, authorization, ca-file, body,
//   each written as  <name> ' ' <length> '\n' <bytes> '\n'
//   then "end\n" as the last four bytes.
// The kind is "first-open", "session" or "in-app". The url and ca-file fields record where the
// request was made for; they never choose where it goes or whom it trusts: the sending process's
// own configuration does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tracker/EventRecord.h"
#include "tracker/HttpTransport.h"

namespace ORBA {
namespace RequestFile {

// "<20-digit ns time>-<10-digit pid>-<20-digit sequence>"
constexpr std::size_t kIdLength = 20 + 1 + 10 + 1 + 20;

const char* kindName(EventKind kind);
std::optional<EventKind> kindFromName(std::string_view name);
inline bool isLaunch(EventKind kind) {
    return kind == EventKind::FirstOpen || kind == EventKind::Session;
}

// A new id, later than every id this process made before, for a request of process `processId`.
std::string makeId(std::uint32_t processId);
bool isId(std::string_view text);
// The id a file name carries before `suffix`, or nothing when it is not such a name.
std::optional<std::string> idOf(const std::string& name, std::string_view suffix);

// The name of the folder of `appId`'s outbox: lower-case letters, digits, '-' and '_' as they are,
// every other byte percent-encoded, long ids cut and told apart by a hash.
std::string appFolderName(const std::string& appId);

std::string encode(const std::string& appId, EventKind kind, const HttpRequest& request);

struct Decoded {
    const char* problem = nullptr;  // why the text is not a stored request; null when it is
    std::string appId;
    EventKind kind = EventKind::InApp;
    HttpRequest request;
};
Decoded decode(std::string_view text);

// What a stored request is, as far as making room goes.
enum class Class { Damaged, Launch, InApp, Purchase };
// Reads the class of the request file `text`: a purchase is an in-app request whose body reports
// the purchase event.
Class classify(std::string_view text);

}  // namespace RequestFile
}  // namespace ORBA
