// Byte-string utilities exported for the host. Every function treats its strings as bytes and
// never interprets an encoding; case folding and white space are those of the C locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orba/Export.h"

namespace ORBA {
namespace Core {

// 0 compares bytes exactly; any other value compares with ASCII letters folded.
enum StringSensitive : int { CaseSensitive = 0, CaseInSensitive = 1 };

}  // namespace Core
}  // namespace ORBA

#if defined(ORBA_USE_C_ABI)
#include "orba/detail/StringUtil_inline.h"
#else

namespace ORBA {
namespace Core {

class ORBA_API StringUtil {
public:
    // 0 converts to upper case; any other value converts to lower case.
    enum LetterCase : int { Upper = 0, Lower = 1 };

    StringUtil() = default;
    StringUtil(const StringUtil&) = default;
    // Both leave the (stateless) object unchanged and return it.
    StringUtil& operator=(const StringUtil&);
    StringUtil& operator=(StringUtil&&) noexcept;

    // Folds every ASCII letter of `text` to the chosen case; other bytes stay.
    static void changeLetterCase(std::string& text, LetterCase letterCase);

    // True exactly when `text` has length 0; white space counts as content.
    static bool isEmptyString(const std::string& text);

    // Equal lengths and equal bytes, with ASCII case folded unless `sensitive` is CaseSensitive.
    static bool isEqual(const std::string& a, const std::string& b, StringSensitive sensitive);
    static bool isEqual(std::string_view a, std::string_view b, StringSensitive sensitive);
    static bool isEqualCaseInSensitive(const std::string& a, const std::string& b);
    static bool isEqualCaseInSensitive(std::string_view a, std::string_view b);

    // Decimal text of `value` as "%lld" writes it.
    static std::string longlongToString(long long value);

    // Removes every occurrence of `character`; the other bytes keep their order.
    static void removeCharacter(std::string& text, const char& character);

    // A copy of `subject` with every non-overlapping occurrence of `search` replaced, scanning
    // on after each inserted replacement. An empty `search` leaves the copy unchanged.
    static std::string replaceAll(const std::string& subject, const std::string& search,
                                  const std::string& replacement);

    // Replaces what lies between the first `opening` at or after `start` and the next `closing`
    // after it; both markers stay. Returns the position of `closing` in the text as it was, or
    // std::string::npos (text unchanged) when either marker is missing.
    static std::uint64_t replaceRangeBetweenStrings(std::string& text, const std::string& opening,
                                                    const std::string& closing,
                                                    const std::string& replacement,
                                                    std::uint64_t start);

    // Splits at `delimiter`. Empty fields at the start and between adjacent delimiters are kept;
    // a delimiter at the very end adds no field. Input without the delimiter gives one element.
    static std::vector<std::string> splitString(const std::string& text, char delimiter);

    // Removes leading and trailing white space (space, \t, \n, \v, \f, \r).
    static void trimString(std::string& text);

    // Standard base64 (RFC 4648) of the bytes, padded with "=" to a multiple of 4 characters.
    static std::string base64Encode(const std::string& data);
    static std::string base64Encode(const std::vector<std::uint8_t>& data);

    // Lenient base64 decoding: padding is optional, and decoding stops at the first byte outside
    // the standard alphabet ("=", white space, anything else), returning what was decoded before
    // it. Bits that do not fill a byte at the end are dropped. Never fails.
    static std::string base64DecodeString(const std::string& text);
    static std::vector<std::uint8_t> base64DecodeVector(const std::string& text);

    // Base64 with "-" and "_" in place of "+" and "/", and without padding.
    static std::string base64URLSafeEncode(const std::string& data);

    // Accepts both alphabets, with or without padding; otherwise as base64DecodeString.
    static std::string base64URLSafeDecode(const std::string& text);

    // Two upper-case hex digits per byte, high nibble first, no separator.
    static std::string byteToHexStr(const std::vector<std::uint8_t>& bytes);
    static std::string StrToHexStr(const std::string& data);

    // Reads the text two characters at a time, each pair as strtol reads it in base 16, and keeps
    // the low 8 bits of each: a last single digit is a byte of its own, and a pair strtol cannot
    // read gives 0. Never fails.
    static std::string hexStrToStr(const std::string& text);
    static std::vector<std::uint8_t> hexStrToByte(const std::string& text);

    // 68 random lower-case hex digits in groups of 16, 8, 8, 8 and 24 joined by "-". Not the
    // 36-character textual UUID form: there are no version or variant digits.
    static std::string generateUUID();

    // `count` random bytes from the system's random device, as 2 * count lower-case hex digits.
    // Throws std::length_error when the text could not be that long.
    static std::string getRandomData(std::uint64_t count);

    // `count` random characters of the URL-safe base64 alphabet (A-Z a-z 0-9 - _).
    // Throws std::length_error when the text could not be that long.
    static std::string getUrlSafeRandomString(std::uint64_t count);
};

}  // namespace Core
}  // namespace ORBA

#endif  // ORBA_USE_C_ABI
