#include "tracker/transport/RequestRules.h"

#include <algorithm>
#include <optional>

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
    return Core::firstIllFormedUtf8(text) == text.size();
}

constexpr std::int64_t kMostSeconds = 0x7FFFFFFF;  // a long on every system we build for

// Reads exactly `count` digits at `pos`.
bool digits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
    if (text.size() - pos < count) return false;
    value = 0;
    for (std::size_t end = pos + count; pos < end; ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return false;
        value = value * 10 + (text[pos] - '0');
    }
    return true;
}

// Which of `names` (each three letters, exact case as the date format requires) stands at `pos`.
int nameIndex(std::string_view text, std::size_t& pos, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (text.compare(pos, 3, names[i]) == 0) {
            pos += 3;
            return i;
        }
    }
    return -1;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Seconds since 1970 of an IMF-fixdate, the one form a sender may use (the older forms a server
// of the last century might send are not read).
std::optional<std::int64_t> parseHttpDate(std::string_view text) {
    static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::size_t pos = 0;
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    const auto literal = [&](std::string_view expected) {
        if (text.compare(pos, expected.size(), expected) != 0) return false;
        pos += expected.size();
        return true;
    };
    if (nameIndex(text, pos, kDays, 7) < 0 || !literal(", ") || !digits(text, pos, 2, day) ||
        !literal(" ")) {
        return std::nullopt;
    }
    const int month = nameIndex(text, pos, kMonths, 12);
    if (month < 0 || !literal(" ") || !digits(text, pos, 4, year) || !literal(" ") ||
        !digits(text, pos, 2, hour) || !literal(":") || !digits(text, pos, 2, minute) ||
        !literal(":") || !digits(text, pos, 2, second) || !literal(" GMT") ||
        pos != text.size()) {
        return std::nullopt;
    }
    if (day < 1 || day > kMonthDays[month] || (month == 1 && day == 29 && !isLeapYear(year)) ||
        hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    return daysFromCivil(year, month + 1, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::string_view();
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

}  // namespace

long retryAfterSeconds(std::string_view value, std::int64_t now) {
    value = trimmed(value);
    if (value.empty()) return -1;
    std::int64_t seconds = 0;
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        for (const char c : value) {
            seconds = std::min(seconds * 10 + (c - '0'), kMostSeconds);
        }
    } else if (const std::optional<std::int64_t> date = parseHttpDate(value)) {
        seconds = std::min(*date - now, kMostSeconds);
    }
    return seconds > 0 ? static_cast<long>(seconds) : -1;
}

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
