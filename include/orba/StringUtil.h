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
};

}  // namespace Core
}  // namespace ORBA
