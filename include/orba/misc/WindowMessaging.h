// The game's main-window size, and a one-way text channel between processes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "orba/Export.h"

#if defined(ORBA_USE_C_ABI)
#include "orba/detail/WindowMessaging_inline.h"
#else

namespace ORBA {
namespace Platform {
namespace Misc {

// Returns the client-area width, in pixels, of the calling process's main window: the first
// visible top-level window without an owner, in the system's window order. Returns 0 when the
// process has no such window, which is always the case on Linux.
ORBA_API std::uint32_t getWindowWidth();

// Returns the client-area height, in pixels, of the main window chosen as by getWindowWidth, or 0
// when there is none. A minimised window has a height and width of 0.
ORBA_API std::uint32_t getWindowHeight();

// Returns true when the main window's client area is wider than high; false for a square or
// empty client area and when the process has no main window.
ORBA_API bool getIsLandscapeWindow();

// Makes the process a receiver of the texts that ipcSend sends to it. Only the first call that
// succeeds installs the receiver and keeps `callback` (an empty callback installs a receiver that
// drops every text); later calls change nothing. Writes a fixed debug line on every call that
// tries to install.
// On Windows the receiver watches the calling thread: a WM_COPYDATA sent to any of its windows
// hands its text to the callback on that thread, while the thread dispatches messages and before
// the window procedure, which still gets the message. Call it on the thread that owns the windows.
// On Linux one thread of the library receives the texts and runs the callback, one text at a
// time, concurrently with every thread of the host, until the library unloads. A host that uses
// the same callback on both systems must therefore treat it as running on a foreign thread: guard
// whatever it shares with its own threads, or hand the text to its own thread (for example through
// a locked queue) and return; calling into thread-bound host APIs (windows, a renderer) from the
// callback is only safe on Windows.
// The callback must not throw; what it throws is written to the debug output and dropped.
ORBA_API void ipcOpen(std::function<void(std::string)> callback);

// Sends `message` to the process whose id `processId` holds as a decimal number (leading white
// space and a sign allowed, trailing text ignored). The receiver gets the bytes before the first
// NUL. A message of 10000 bytes or more is not sent. A text that holds no number, or a number
// beyond 32 bits, writes two debug lines and sends nothing. An unknown process, or one without a
// receiver, gets nothing and nothing is reported. Blocks until the receiver has taken the text on
// Windows, and until it is queued for the receiver on Linux.
ORBA_API void ipcSend(const std::string& processId, const std::string& message);

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA

#endif  // ORBA_USE_C_ABI
