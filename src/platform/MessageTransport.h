// Carries message blocks between processes. One implementation per platform; the portable
// channel calls install, send and remove, and the implementation hands every block it receives
// to deliverMessageBlock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ORBA {
namespace Platform {

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
