// Characters and numbers read as the C library reads them in the "C" locale, whatever locale the
// host has set: <cctype> and strtol follow the host's locale (a Windows-1252 locale counts "\xA0"
// as a blank), and a text the library reads must mean the same on every player's machine.
#pragma once

#include <cstdint>
#include <string_view>

namespace ORBA {
namespace Core {

// ' ', '\t', '\n', '\v', '\f' and '\r'.
inline bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline bool isCDigit(char c) { return c >= '0' && c <= '9'; }

// A signed 32-bit decimal number read from the start of a text.
struct CInt32 {
    enum class Outcome { Number, NoNumber, OutOfRange };
    Outcome outcome = Outcome::NoNumber;
    std::int32_t value = 0;
};

// Reads a decimal number as strtol does: leading blanks are skipped, one sign is allowed, and
// reading stops at the first character that is not a digit. Every digit is read before the range
// is judged, as strtol does; the range is that of a signed 32-bit number.
inline CInt32 readCInt32(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isCSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    CInt32 result;
    if (at == text.size() || !isCDigit(text[at])) return result;

    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    for (; at < text.size() && isCDigit(text[at]); ++at) {
        if (tooLarge) continue;
        magnitude = magnitude * 10 + (text[at] - '0');
        tooLarge = magnitude > kLimit;
    }
    if (tooLarge || (!negative && magnitude == kLimit)) {
        result.outcome = CInt32::Outcome::OutOfRange;
        return result;
    }
    result.outcome = CInt32::Outcome::Number;
    result.value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return result;
}

}  // namespace Core
}  // namespace ORBA
