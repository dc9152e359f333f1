// The text channel between processes of orba/misc/WindowMessaging.h (ipcOpen, ipcSend). The
// portable channel reads the receiver's id, writes the debug lines and calls install, send and
// remove; each OS's transport hands every block it receives to deliverMessageBlock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/CLocale.h"

namespace ORBA {
namespace Platform {

// --- Portable -----------------------------------------------------------------------------------

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

// --- Implemented once per OS -------------------------------------------------------------------

// Starts receiving blocks for the calling process: on Windows the WM_COPYDATA messages sent to
// the calling thread's windows, on Linux the datagrams sent to the process's socket. Returns false
// when receiving could not start.
bool installMessageReceiver();

// Stops receiving, so that nothing of the library runs after it is unloaded. Safe to call when
// no receiver is installed.
void removeMessageReceiver();

// Sends `size` bytes at `data` to the receiver of the process `processId`. A process without a
// receiver gets nothing and nothing is reported. A receiver that does not take the block within
// 5 seconds gets nothing either, and the caller goes on (on Windows with a debug-output line).
void sendMessageBlock(std::uint32_t processId, const char* data, std::size_t size);

// Implemented by the portable channel: writes the receive debug line and hands the block's text
// to the stored callback. Never throws.
void deliverMessageBlock(const void* data, std::size_t size) noexcept;

}  // namespace Platform
}  // namespace ORBA
