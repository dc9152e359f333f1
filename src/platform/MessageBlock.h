// The fixed-size block that carries one text between processes.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ORBA {
namespace Platform {

// Every text travels in a block of this size, whatever its length.
constexpr std::size_t kMessageBlockSize = 10000;
using MessageBlock = std::array<char, kMessageBlockSize>;

// Returns the block that carries `message`: its bytes up to the first NUL, a NUL, then zeros.
// Returns nothing when the message is kMessageBlockSize bytes long or longer.
std::optional<MessageBlock> packMessageBlock(std::string_view message);

// Returns the text a received block carries: its bytes before the first NUL, never more than
// `size` bytes. A null `data` carries the empty text.
std::string unpackMessageText(const void* data, std::size_t size);

}  // namespace Platform
}  // namespace ORBA
