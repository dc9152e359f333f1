// Base64, hex and random-text members of StringUtil. Kept apart from the text operations because
// they share nothing with them but the class.
#include <random>
#include <stdexcept>

#include "orba/StringUtil.h"

#include "core/Hex.h"
#include "core/CLocale.h"

namespace ORBA {
namespace Core {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlSafeAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encodeBase64(const unsigned char* data, std::size_t size) {
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    // Unsigned, so that bits shifted out at the top are simply lost; only the low bits are read.
    std::uint32_t bits = 0;
    int pending = -6;
    for (std::size_t i = 0; i < size; ++i) {
        bits = (bits << 8) + data[i];
        pending += 8;
        while (pending >= 0) {
            out.push_back(kBase64Alphabet[(bits >> pending) & 0x3F]);
            pending -= 6;
        }
    }
    if (pending > -6) out.push_back(kBase64Alphabet[((bits << 8) >> (pending + 8)) & 0x3F]);
    switch (size % 3) {
        case 1: out += "=="; break;
        case 2: out += "="; break;
        default: break;
    }
    return out;
}

template <typename Output>
Output decodeBase64(const std::string& text) {
    int table[256];
    for (int& value : table) value = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kBase64Alphabet[i])] = i;

    Output out;
    std::uint32_t bits = 0;
    int pending = -8;
    for (char c : text) {
        const int value = table[static_cast<unsigned char>(c)];
        if (value == -1) break;
        bits = (bits << 6) + static_cast<std::uint32_t>(value);
        pending += 6;
        if (pending >= 0) {
            out.push_back(static_cast<typename Output::value_type>((bits >> pending) & 0xFF));
            pending -= 8;
        }
    }
    return out;
}

// What strtol in base 16 makes of at most two characters in the "C" locale: leading white space,
// a sign, then hex digits up to the first other character ("0x" needs a third character to count
// as a prefix, so it reads as 0). Not strtol itself, whose white space follows the locale the host
// has set (Windows-1252 counts "\xA0" as a blank).
long readHexPair(char first, char second) {
    const char pair[3] = {first, second, '\0'};
    const char* c = pair;
    while (isCSpace(*c)) ++c;
    const bool negative = *c == '-';
    if (*c == '-' || *c == '+') ++c;
    long value = 0;
    for (int digit = hexDigitValue(*c); digit >= 0; digit = hexDigitValue(*++c)) value = value * 16 + digit;
    return negative ? -value : value;
}

template <typename Output>
Output readHexPairs(const std::string& text) {
    Output out;
    out.reserve((text.size() + 1) / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const long value = readHexPair(text[i], i + 1 < text.size() ? text[i + 1] : '\0');
        out.push_back(static_cast<typename Output::value_type>(static_cast<unsigned long>(value) & 0xFF));
    }
    return out;
}

// Refuses counts whose text could never be built before any random source is touched; a count
// beyond the string's limit must not wrap around to a short result.
std::size_t checkedLength(std::uint64_t count, std::uint64_t charactersPerUnit) {
    const std::uint64_t limit = std::string().max_size() / charactersPerUnit;
    if (count > limit) throw std::length_error("random text longer than a string can hold");
    return static_cast<std::size_t>(count * charactersPerUnit);
}

}  // namespace

std::string StringUtil::base64Encode(const std::string& data) {
    return encodeBase64(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

std::string StringUtil::base64Encode(const std::vector<std::uint8_t>& data) {
    return encodeBase64(data.data(), data.size());
}

std::string StringUtil::base64DecodeString(const std::string& text) {
    return decodeBase64<std::string>(text);
}

std::vector<std::uint8_t> StringUtil::base64DecodeVector(const std::string& text) {
    return decodeBase64<std::vector<std::uint8_t>>(text);
}

std::string StringUtil::base64URLSafeEncode(const std::string& data) {
    std::string text = base64Encode(data);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '=') continue;
        out.push_back(c == '+' ? '-' : c == '/' ? '_' : c);
    }
    return out;
}

std::string StringUtil::base64URLSafeDecode(const std::string& text) {
    std::string standard = text;
    for (char& c : standard) {
        if (c == '-') c = '+';
        else if (c == '_') c = '/';
    }
    return decodeBase64<std::string>(standard);
}

std::string StringUtil::byteToHexStr(const std::vector<std::uint8_t>& bytes) {
    return bytesToHex(bytes.data(), bytes.size(), true);
}

std::string StringUtil::StrToHexStr(const std::string& data) {
    return bytesToHex(reinterpret_cast<const unsigned char*>(data.data()), data.size(), true);
}

std::string StringUtil::hexStrToStr(const std::string& text) {
    return readHexPairs<std::string>(text);
}

std::vector<std::uint8_t> StringUtil::hexStrToByte(const std::string& text) {
    return readHexPairs<std::vector<std::uint8_t>>(text);
}

std::string StringUtil::generateUUID() {
    return getRandomData(8) + "-" + getRandomData(4) + "-" + getRandomData(4) + "-" +
           getRandomData(4) + "-" + getRandomData(12);
}

std::string StringUtil::getRandomData(std::uint64_t count) {
    std::string out;
    out.reserve(checkedLength(count, 2));
    std::random_device device;
    // Every byte comes from a generator of its own, freshly seeded from the device, so that no
    // byte can be predicted from the ones before it.
    for (std::uint64_t i = 0; i < count; ++i) {
        std::mt19937 engine(static_cast<std::mt19937::result_type>(device()));
        const auto byte = static_cast<unsigned char>(engine() >> 24);
        out += bytesToHex(&byte, 1, false);
    }
    return out;
}

std::string StringUtil::getUrlSafeRandomString(std::uint64_t count) {
    std::string out;
    out.reserve(checkedLength(count, 1));
    std::random_device device;
    std::mt19937 engine(static_cast<std::mt19937::result_type>(device()));
    for (std::uint64_t i = 0; i < count; ++i) out.push_back(kUrlSafeAlphabet[(engine() >> 26) & 0x3F]);
    return out;
}

}  // namespace Core
}  // namespace ORBA
