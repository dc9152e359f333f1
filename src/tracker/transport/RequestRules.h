// What both HTTP back ends agree on before anything reaches the wire: limits, header lines and
// the refusal of requests that must not be sent.
#pragma once

#include <cstddef>
#include <string>

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

}  // namespace Transport
}  // namespace ORBA
