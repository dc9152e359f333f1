// Strict conversion between UTF-8 byte strings and UTF-16 strings.
#pragma once

#include <string>
#include <string_view>

namespace ORBA {
namespace Core {

// Converts UTF-8 to UTF-16; code points above U+FFFF become surrogate pairs. Throws
// std::range_error("bad conversion") on ill-formed input: stray or missing continuation bytes,
// overlong forms, encoded surrogates, code points above U+10FFFF.
std::u16string utf8ToUtf16(std::string_view text);

// Converts UTF-16 to UTF-8. Throws std::range_error("bad conversion") on an unpaired surrogate.
std::string utf16ToUtf8(std::u16string_view text);

}  // namespace Core
}  // namespace ORBA
