// Hexadecimal digits, written and read the same way wherever bytes become text.
#pragma once

#include <cstddef>
#include <string>

namespace ORBA {
namespace Core {

// Each of the `size` bytes as two hexadecimal digits, high nibble first, no separator.
inline std::string bytesToHex(const unsigned char* data, std::size_t size, bool upperCase) {
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
    }
    return out;
}

// The value of one hexadecimal digit of either case, or -1 for any other character.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace Core
}  // namespace ORBA
