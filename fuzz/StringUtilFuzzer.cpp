// Checks the exported string utilities against the properties their contracts promise: encoders
// and decoders undo each other, decoders accept any text and read it as documented, and case
// folding, trimming and splitting keep what they must. A broken property aborts the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "orba/StringUtil.h"
#include "Property.h"

namespace {

using ORBA::Core::StringUtil;

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isBase64Digit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

std::string asString(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

void checkEncoders(const std::string& data) {
    const std::vector<std::uint8_t> bytes(data.begin(), data.end());

    const std::string base64 = StringUtil::base64Encode(data);
    check(base64 == StringUtil::base64Encode(bytes), "base64 of a string and of its bytes agree");
    check(base64.size() == (data.size() + 2) / 3 * 4, "base64 is padded to whole quads");
    check(StringUtil::base64DecodeString(base64) == data, "base64 string round trip");
    check(StringUtil::base64DecodeVector(base64) == bytes, "base64 bytes round trip");
    check(StringUtil::base64URLSafeDecode(base64) == data, "URL-safe decoder reads standard base64");

    const std::string urlSafe = StringUtil::base64URLSafeEncode(data);
    check(urlSafe.find_first_of("+/=") == std::string::npos, "URL-safe base64 has no + / =");
    check(StringUtil::base64URLSafeDecode(urlSafe) == data, "URL-safe base64 round trip");

    const std::string hex = StringUtil::StrToHexStr(data);
    check(hex == StringUtil::byteToHexStr(bytes), "hex of a string and of its bytes agree");
    check(hex.size() == 2 * data.size(), "two hex digits a byte");
    check(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos, "upper-case hex digits");
    check(StringUtil::hexStrToStr(hex) == data, "hex string round trip");
    check(StringUtil::hexStrToByte(hex) == bytes, "hex bytes round trip");
}

void checkDecoders(const std::string& text) {
    const std::string decoded = StringUtil::base64DecodeString(text);
    check(asString(StringUtil::base64DecodeVector(text)) == decoded, "base64 decoders agree");
    // Decoding reads the longest prefix of alphabet characters, six bits each, whole bytes only,
    // so encoding the result gives back every character whose bits it fully holds.
    std::size_t digits = 0;
    while (digits < text.size() && isBase64Digit(text[digits])) ++digits;
    check(decoded.size() == digits * 6 / 8, "base64 decodes every whole byte of the prefix");
    const std::string reencoded = StringUtil::base64Encode(decoded);
    const std::size_t wholeDigits = decoded.size() * 8 / 6;
    check(reencoded.compare(0, wholeDigits, text, 0, wholeDigits) == 0, "base64 re-encodes stably");

    std::string standard = text;
    for (char& c : standard) c = c == '-' ? '+' : c == '_' ? '/' : c;
    check(StringUtil::base64URLSafeDecode(text) == StringUtil::base64DecodeString(standard),
          "URL-safe decoding is standard decoding of the translated text");

    // Each pair of characters reads as strtol reads it in base 16 (the fuzzer runs in the "C"
    // locale), keeping the low byte.
    const std::string hex = StringUtil::hexStrToStr(text);
    check(asString(StringUtil::hexStrToByte(text)) == hex, "hex decoders agree");
    check(hex.size() == (text.size() + 1) / 2, "one byte per pair of hex characters");
    for (std::size_t i = 0; i < hex.size(); ++i) {
        const std::string pair = text.substr(2 * i, 2);
        const long value = std::strtol(pair.c_str(), nullptr, 16);
        check(static_cast<unsigned char>(hex[i]) == (static_cast<unsigned long>(value) & 0xFF),
              "hex pair reads as strtol");
    }
}

void checkTextOperations(const std::string& text, char delimiter) {
    std::string upper = text;
    StringUtil::changeLetterCase(upper, StringUtil::Upper);
    std::string lower = text;
    StringUtil::changeLetterCase(lower, StringUtil::Lower);
    std::string upperThenLower = upper;
    StringUtil::changeLetterCase(upperThenLower, StringUtil::Lower);
    check(upperThenLower == lower, "folding to upper then lower equals folding to lower");
    check(upper.size() == text.size() && lower.size() == text.size(), "folding keeps the length");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        check(letter || (upper[i] == c && lower[i] == c), "folding keeps non-letters");
    }
    check(StringUtil::isEqualCaseInSensitive(text, upper) && StringUtil::isEqualCaseInSensitive(lower, upper),
          "folded texts compare equal without case");
    check(StringUtil::isEqual(text, upper, ORBA::Core::CaseSensitive) == (text == upper),
          "case-sensitive comparison is byte equality");

    std::string trimmed = text;
    StringUtil::trimString(trimmed);
    check(trimmed.empty() || (!isSpace(trimmed.front()) && !isSpace(trimmed.back())),
          "trimming leaves no white space at either end");
    check(text.find(trimmed) != std::string::npos, "trimming keeps a part of the text");
    std::string padded = " \t\r\n" + text + "\v\f ";
    StringUtil::trimString(padded);
    check(padded == trimmed, "trimming ignores added white space");

    const std::vector<std::string> fields = StringUtil::splitString(text, delimiter);
    check(!fields.empty(), "splitting gives at least one field");
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) joined += delimiter;
        joined += fields[i];
    }
    // A delimiter at the very end adds no field.
    if (!text.empty() && text.back() == delimiter) joined += delimiter;
    check(joined == text, "joining the fields gives the text back");

    std::string removed = text;
    StringUtil::removeCharacter(removed, delimiter);
    std::size_t occurrences = 0;
    for (char c : text) occurrences += c == delimiter ? 1 : 0;
    check(removed.size() + occurrences == text.size() && removed.find(delimiter) == std::string::npos,
          "removing a character removes every occurrence and nothing else");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const char delimiter = provider.ConsumeIntegral<char>();
    const std::string text = provider.ConsumeRemainingBytesAsString();
    checkEncoders(text);
    checkDecoders(text);
    checkTextOperations(text, delimiter);
    check(StringUtil::replaceAll(text, std::string(1, delimiter), std::string(1, delimiter)) == text,
          "replacing a text by itself changes nothing");
    return 0;
}
