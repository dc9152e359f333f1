// The byte-string utilities for hosts that cannot call the C++ functions.
#include <string>
#include <vector>

#include "capi/CallGuard.h"
#include "orba/StringUtil.h"

using ORBA::CApi::bytesIn;
using ORBA::CApi::copyOut;
using ORBA::CApi::guarded;
using ORBA::Core::StringUtil;

namespace {

std::vector<std::uint8_t> byteVectorIn(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return bytes == nullptr ? std::vector<std::uint8_t>()
                            : std::vector<std::uint8_t>(bytes, bytes + size);
}

ORBA::Core::StringSensitive sensitivityIn(int sensitive) {
    return sensitive == 0 ? ORBA::Core::CaseSensitive : ORBA::Core::CaseInSensitive;
}

}  // namespace

extern "C" {

ORBA_API char* orba_change_letter_case(const char* text, size_t size, int letter_case,
                                       size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        std::string copy = bytesIn(text, size);
        StringUtil::changeLetterCase(copy,
                                     letter_case == 0 ? StringUtil::Upper : StringUtil::Lower);
        return copyOut(copy, out_size);
    });
}

ORBA_API int orba_is_empty_string(const char* text, size_t size) {
    return guarded(__func__, 0,
                   [&] { return StringUtil::isEmptyString(bytesIn(text, size)) ? 1 : 0; });
}

ORBA_API int orba_is_equal(const char* a, size_t a_size, const char* b, size_t b_size,
                           int sensitive) {
    return guarded(__func__, 0, [&] {
        return StringUtil::isEqual(bytesIn(a, a_size), bytesIn(b, b_size), sensitivityIn(sensitive))
                   ? 1
                   : 0;
    });
}

ORBA_API int orba_is_equal_case_in_sensitive(const char* a, size_t a_size, const char* b,
                                             size_t b_size) {
    return guarded(__func__, 0, [&] {
        return StringUtil::isEqualCaseInSensitive(bytesIn(a, a_size), bytesIn(b, b_size)) ? 1 : 0;
    });
}

ORBA_API char* orba_longlong_to_string(long long value) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::longlongToString(value)); });
}

ORBA_API char* orba_remove_character(const char* text, size_t size, char character,
                                     size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        std::string copy = bytesIn(text, size);
        StringUtil::removeCharacter(copy, character);
        return copyOut(copy, out_size);
    });
}

ORBA_API char* orba_replace_all(const char* subject, size_t subject_size, const char* search,
                                size_t search_size, const char* replacement,
                                size_t replacement_size, size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        return copyOut(
            StringUtil::replaceAll(bytesIn(subject, subject_size), bytesIn(search, search_size),
                                   bytesIn(replacement, replacement_size)),
            out_size);
    });
}

ORBA_API char* orba_replace_range_between_strings(const char* text, size_t size,
                                                  const char* opening, size_t opening_size,
                                                  const char* closing, size_t closing_size,
                                                  const char* replacement, size_t replacement_size,
                                                  uint64_t start, uint64_t* position,
                                                  size_t* out_size) {
    if (position != nullptr) *position = ORBA_NPOS;
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        std::string copy = bytesIn(text, size);
        const std::uint64_t found = StringUtil::replaceRangeBetweenStrings(
            copy, bytesIn(opening, opening_size), bytesIn(closing, closing_size),
            bytesIn(replacement, replacement_size), start);
        char* result = copyOut(copy, out_size);
        if (position != nullptr) *position = found;
        return result;
    });
}

ORBA_API orba_string* orba_split_string(const char* text, size_t size, char delimiter,
                                        size_t* count) {
    if (count != nullptr) *count = 0;
    return guarded(__func__, static_cast<orba_string*>(nullptr), [&] {
        return ORBA::CApi::copyOutList(StringUtil::splitString(bytesIn(text, size), delimiter),
                                       count);
    });
}

ORBA_API char* orba_trim_string(const char* text, size_t size, size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        std::string copy = bytesIn(text, size);
        StringUtil::trimString(copy);
        return copyOut(copy, out_size);
    });
}

ORBA_API char* orba_base64_encode(const void* data, size_t size) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::base64Encode(bytesIn(data, size))); });
}

ORBA_API char* orba_base64_decode_string(const char* text, size_t size, size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        return copyOut(StringUtil::base64DecodeString(bytesIn(text, size)), out_size);
    });
}

ORBA_API char* orba_base64_decode_vector(const char* text, size_t size, size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        return copyOut(StringUtil::base64DecodeVector(bytesIn(text, size)), out_size);
    });
}

ORBA_API char* orba_base64_url_safe_encode(const void* data, size_t size) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::base64URLSafeEncode(bytesIn(data, size))); });
}

ORBA_API char* orba_base64_url_safe_decode(const char* text, size_t size, size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        return copyOut(StringUtil::base64URLSafeDecode(bytesIn(text, size)), out_size);
    });
}

ORBA_API char* orba_byte_to_hex_str(const void* data, size_t size) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::byteToHexStr(byteVectorIn(data, size))); });
}

ORBA_API char* orba_str_to_hex_str(const void* data, size_t size) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::StrToHexStr(bytesIn(data, size))); });
}

ORBA_API char* orba_hex_str_to_str(const char* text, size_t size, size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::hexStrToStr(bytesIn(text, size)), out_size); });
}

ORBA_API char* orba_hex_str_to_byte(const char* text, size_t size, size_t* out_size) {
    return guarded(__func__, static_cast<char*>(nullptr), [&] {
        return copyOut(StringUtil::hexStrToByte(bytesIn(text, size)), out_size);
    });
}

ORBA_API char* orba_generate_uuid(void) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::generateUUID()); });
}

ORBA_API char* orba_get_random_data(uint64_t count) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::getRandomData(count)); });
}

ORBA_API char* orba_get_url_safe_random_string(uint64_t count) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(StringUtil::getUrlSafeRandomString(count)); });
}

}  // extern "C"
