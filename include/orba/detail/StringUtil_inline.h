// The byte-string utilities compiled in the host over the C interface; see orba/StringUtil.h for
// the contracts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orba/detail/CAbi.h"

namespace ORBA {
namespace Core {
// A namespace of its own keeps these apart from the library's C++ symbols of the same names.
inline namespace CAbi {

class StringUtil {
public:
    enum LetterCase : int { Upper = 0, Lower = 1 };

    StringUtil() = default;
    StringUtil(const StringUtil&) = default;
    StringUtil& operator=(const StringUtil&) { return *this; }
    StringUtil& operator=(StringUtil&&) noexcept { return *this; }

    static void changeLetterCase(std::string& text, LetterCase letterCase) {
        std::size_t size = 0;
        char* out = orba_change_letter_case(text.data(), text.size(), letterCase, &size);
        text = detail::takeText(out, size);
    }

    static bool isEmptyString(const std::string& text) { return text.empty(); }

    static bool isEqual(const std::string& a, const std::string& b, StringSensitive sensitive) {
        return isEqual(std::string_view(a), std::string_view(b), sensitive);
    }
    static bool isEqual(std::string_view a, std::string_view b, StringSensitive sensitive) {
        return detail::checked(orba_is_equal(a.data(), a.size(), b.data(), b.size(), sensitive)) !=
               0;
    }
    static bool isEqualCaseInSensitive(const std::string& a, const std::string& b) {
        return isEqual(std::string_view(a), std::string_view(b), CaseInSensitive);
    }
    static bool isEqualCaseInSensitive(std::string_view a, std::string_view b) {
        return isEqual(a, b, CaseInSensitive);
    }

    static std::string longlongToString(long long value) {
        return detail::takeText(orba_longlong_to_string(value));
    }

    static void removeCharacter(std::string& text, const char& character) {
        std::size_t size = 0;
        char* out = orba_remove_character(text.data(), text.size(), character, &size);
        text = detail::takeText(out, size);
    }

    static std::string replaceAll(const std::string& subject, const std::string& search,
                                  const std::string& replacement) {
        std::size_t size = 0;
        char* out = orba_replace_all(subject.data(), subject.size(), search.data(), search.size(),
                                     replacement.data(), replacement.size(), &size);
        return detail::takeText(out, size);
    }

    static std::uint64_t replaceRangeBetweenStrings(std::string& text, const std::string& opening,
                                                    const std::string& closing,
                                                    const std::string& replacement,
                                                    std::uint64_t start) {
        std::uint64_t position = ORBA_NPOS;
        std::size_t size = 0;
        char* out = orba_replace_range_between_strings(
            text.data(), text.size(), opening.data(), opening.size(), closing.data(),
            closing.size(), replacement.data(), replacement.size(), start, &position, &size);
        text = detail::takeText(out, size);
        return position;
    }

    static std::vector<std::string> splitString(const std::string& text, char delimiter) {
        std::size_t count = 0;
        orba_string* list = orba_split_string(text.data(), text.size(), delimiter, &count);
        return detail::takeList(list, count);
    }

    static void trimString(std::string& text) {
        std::size_t size = 0;
        char* out = orba_trim_string(text.data(), text.size(), &size);
        text = detail::takeText(out, size);
    }

    static std::string base64Encode(const std::string& data) {
        return detail::takeText(orba_base64_encode(data.data(), data.size()));
    }
    static std::string base64Encode(const std::vector<std::uint8_t>& data) {
        return detail::takeText(orba_base64_encode(data.data(), data.size()));
    }

    static std::string base64DecodeString(const std::string& text) {
        std::size_t size = 0;
        char* out = orba_base64_decode_string(text.data(), text.size(), &size);
        return detail::takeText(out, size);
    }
    static std::vector<std::uint8_t> base64DecodeVector(const std::string& text) {
        std::size_t size = 0;
        char* out = orba_base64_decode_vector(text.data(), text.size(), &size);
        return detail::takeBytes(out, size);
    }

    static std::string base64URLSafeEncode(const std::string& data) {
        return detail::takeText(orba_base64_url_safe_encode(data.data(), data.size()));
    }

    static std::string base64URLSafeDecode(const std::string& text) {
        std::size_t size = 0;
        char* out = orba_base64_url_safe_decode(text.data(), text.size(), &size);
        return detail::takeText(out, size);
    }

    static std::string byteToHexStr(const std::vector<std::uint8_t>& bytes) {
        return detail::takeText(orba_byte_to_hex_str(bytes.data(), bytes.size()));
    }
    static std::string StrToHexStr(const std::string& data) {
        return detail::takeText(orba_str_to_hex_str(data.data(), data.size()));
    }

    static std::string hexStrToStr(const std::string& text) {
        std::size_t size = 0;
        char* out = orba_hex_str_to_str(text.data(), text.size(), &size);
        return detail::takeText(out, size);
    }
    static std::vector<std::uint8_t> hexStrToByte(const std::string& text) {
        std::size_t size = 0;
        char* out = orba_hex_str_to_byte(text.data(), text.size(), &size);
        return detail::takeBytes(out, size);
    }

    static std::string generateUUID() { return detail::takeText(orba_generate_uuid()); }

    static std::string getRandomData(std::uint64_t count) {
        return detail::takeText(orba_get_random_data(count));
    }

    static std::string getUrlSafeRandomString(std::uint64_t count) {
        return detail::takeText(orba_get_url_safe_random_string(count));
    }
};

}  // namespace CAbi
}  // namespace Core
}  // namespace ORBA
