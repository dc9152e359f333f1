// What both HTTP back ends agree on before anything reaches the wire: limits, header lines and
// the refusal of requests that must not be sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tracker/HttpTransport.h"

namespace ORBA {
namespace Transport {

constexpr long kConnectTimeoutMs = 5000;
constexpr long kTotalTimeoutMs = 10000;

constexpr const char* kContentTypeLine = "Content-Type: application/json";
constexpr const char* kAuthorizationPrefix = "Authorization: ";

// Why `request` must not be posted, or nullptr when it may be. An unsigned request (empty
// authorization, which is also what a failed signature gives) is never sent, and neither is a
// header value holding CR, LF or NUL, which would end its header line early and smuggle in lines
// of its own, nor a user agent or URL that is not well-formed UTF-8.
const char* refusalReason(const HttpRequest& request);

// Whether `request` may be posted; when it may not, says why in the core log.
bool isSendable(const HttpRequest& request);

// How many seconds an answer's Retry-After value asks to wait, counted from `now` (seconds since
// 1970 UTC) when it names a time: a count of seconds ("120") or an HTTP date
// ("Sun, 06 Nov 1994 08:49:37 GMT"). -1 when it asks for no wait: a date now or past, zero, or
// a value of neither form. A far date is held to what a 32-bit count holds; how long to honour it
// is the retry policy's call.
long retryAfterSeconds(std::string_view value, std::int64_t now);

}  // namespace Transport
}  // namespace ORBA
