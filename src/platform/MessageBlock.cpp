#include "platform/MessageBlock.h"

#include <cstring>

namespace ORBA {
namespace Platform {
namespace {

// The C locale's white space, which stol skips.
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

ProcessIdText parseProcessId(std::string_view text) {
    // The id arrives as a C++ string, but stol reads it as a C string.
    text = text.substr(0, text.find('\0'));
    std::size_t at = 0;
    while (at < text.size() && isSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    ProcessIdText result;
    if (at == text.size() || !isDigit(text[at])) return result;

    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    bool tooLarge = false;
    for (; at < text.size() && isDigit(text[at]); ++at) {
        if (tooLarge) continue;  // stol reads every digit before it reports the range
        magnitude = magnitude * 10 + (text[at] - '0');
        tooLarge = magnitude > kLimit;
    }
    if (tooLarge || (!negative && magnitude == kLimit)) {
        result.outcome = ProcessIdText::Outcome::OutOfRange;
        return result;
    }
    result.outcome = ProcessIdText::Outcome::Number;
    result.value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return result;
}

std::optional<MessageBlock> packMessageBlock(std::string_view message) {
    if (message.size() >= kMessageBlockSize) return std::nullopt;
    const std::string_view text = message.substr(0, message.find('\0'));
    // Zeros after the text: nothing of the sender's memory leaves the process.
    MessageBlock block{};
    std::memcpy(block.data(), text.data(), text.size());
    return block;
}

std::string unpackMessageText(const void* data, std::size_t size) {
    if (data == nullptr) return std::string();
    const char* bytes = static_cast<const char*>(data);
    const void* nul = std::memchr(bytes, '\0', size);
    return std::string(bytes, nul != nullptr ? static_cast<const char*>(nul) - bytes : size);
}

}  // namespace Platform
}  // namespace ORBA
