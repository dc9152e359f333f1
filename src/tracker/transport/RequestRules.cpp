#include "tracker/transport/RequestRules.h"

#include <stdexcept>

#include "core/Utf.h"

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

bool isSendable(const HttpRequest& request) {
    return !request.authorization.empty() && fitsOnOneHeaderLine(request.authorization) &&
           fitsOnOneHeaderLine(request.userAgent) && fitsOnOneHeaderLine(request.url) &&
           wellFormedUtf8(request.userAgent) && wellFormedUtf8(request.url);
}

std::string toLowerHex(const unsigned char* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return hex;
}

}  // namespace Transport
}  // namespace ORBA
