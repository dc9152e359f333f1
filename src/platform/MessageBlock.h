// The fixed-size block that carries one text between processes, the debug lines of the channel,
// and the reading of the receiver's process id.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/CLocale.h"

namespace ORBA {
namespace Platform {

// Every text travels in a block of this size, whatever its length.
constexpr std::size_t kMessageBlockSize = 10000;
using MessageBlock = std::array<char, kMessageBlockSize>;

// Debug lines of the channel. Receivers and tools watching the debug output match them exactly.
constexpr char kReceiverInstallText[] =
    "################       g_ORBAWndHook is NULL ##############################\n";
constexpr char kTextReceivedText[] =
    "################   Copy Data Called ##############################\n";
constexpr char kSendInvalidArgumentText[] = "ipc Send Test std::invalid_argument";
constexpr char kInvalidArgumentDescription[] = "invalid stol argument";
constexpr char kSendOutOfRangeText[] = "ipc Send Test std::exception";
constexpr char kOutOfRangeDescription[] = "stol argument out of range";
constexpr char kCallbackFailedText[] = "ipc callback threw: ";

// A process id read from text.
using ProcessIdText = Core::CInt32;

// Reads a decimal 32-bit number as the standard stol does where long has 32 bits: leading white
// space is skipped, one sign is allowed, reading stops at the first non-digit (and at a NUL).
ProcessIdText parseProcessId(std::string_view text);

// Returns the block that carries `message`: its bytes up to the first NUL, a NUL, then zeros.
// Returns nothing when the message is kMessageBlockSize bytes long or longer.
std::optional<MessageBlock> packMessageBlock(std::string_view message);

// Returns the text a received block carries: its bytes before the first NUL, never more than
// `size` bytes. A null `data` carries the empty text.
std::string unpackMessageText(const void* data, std::size_t size);

}  // namespace Platform
}  // namespace ORBA
