// Conversion between UTF-8 byte strings and UTF-16 strings: strict, and one lossy form for text
// the system reports.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ORBA {
namespace Core {

// Where the first ill-formed UTF-8 sequence of `text` starts, or text.size() when there is none.
// Well-formed as Unicode defines it: no overlong forms, no encoded surrogates, nothing above
// U+10FFFF, nothing cut short.
std::size_t firstIllFormedUtf8(std::string_view text);

// Converts UTF-8 to UTF-16; code points above U+FFFF become surrogate pairs. Throws
// std::range_error("bad conversion") on ill-formed input: stray or missing continuation bytes,
// overlong forms, encoded surrogates, code points above U+10FFFF.
std::u16string utf8ToUtf16(std::string_view text);

// Converts UTF-16 to UTF-8. Throws std::range_error("bad conversion") on an unpaired surrogate.
std::string utf16ToUtf8(std::u16string_view text);

// Converts UTF-16 to UTF-8 as Windows does for the text it hands out: an unpaired surrogate
// becomes U+FFFD. Never throws. For text the system reports, where a lost character is better
// than a lost message.
std::string utf16ToUtf8Lossy(std::u16string_view text);

}  // namespace Core
}  // namespace ORBA
