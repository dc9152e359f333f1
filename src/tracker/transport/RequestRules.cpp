#include "tracker/transport/RequestRules.h"

namespace ORBA {
namespace Transport {

namespace {

bool fitsOnOneHeaderLine(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

bool isSendable(const HttpRequest& request) {
    return !request.authorization.empty() && fitsOnOneHeaderLine(request.authorization) &&
           fitsOnOneHeaderLine(request.userAgent) && fitsOnOneHeaderLine(request.url);
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
