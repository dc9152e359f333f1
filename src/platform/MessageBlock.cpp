#include "platform/MessageBlock.h"

#include <cstring>

namespace ORBA {
namespace Platform {

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
