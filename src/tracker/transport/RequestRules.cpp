#include "tracker/transport/RequestRules.h"

#include <stdexcept>

#include "core/Utf.h"
#include "orba/Logger.h"

namespace ORBA {
namespace Transport {

namespace {

bool fitsOnOneHeaderLine(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// WinHTTP takes UTF-16 text; libcurl would pass any bytes. Refusing what is not UTF-8 keeps the
// two back ends sending the same requests.
bool wellFormedUtf8(const std::string& text) {
    try {
        Core::utf8ToUtf16(text);
        return true;
    } catch (const std::range_error&) {
        return false;
    }
}

}  // namespace

const char* refusalReason(const HttpRequest& request) {
    if (request.authorization.empty()) return "the request is not signed";
    if (!fitsOnOneHeaderLine(request.authorization) || !fitsOnOneHeaderLine(request.userAgent) ||
        !fitsOnOneHeaderLine(request.url)) {
        return "a header value or the URL holds CR, LF or NUL";
    }
    if (!wellFormedUtf8(request.userAgent) || !wellFormedUtf8(request.url)) {
        return "the user agent or the URL is not UTF-8";
    }
    return nullptr;
}

bool isSendable(const HttpRequest& request) {
    const char* reason = refusalReason(request);
    if (reason == nullptr) return true;
    Core::Logger::Log(std::string("HTTP request not sent: ") + reason);
    return false;
}

}  // namespace Transport
}  // namespace ORBA
