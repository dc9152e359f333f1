// The window functions of orba/misc/WindowMessaging.h: choosing the game's main window among the
// desktop's top-level windows (portable), and reading those windows (one implementation per OS).
#pragma once

#include <cstdint>
#include <vector>

namespace ORBA {
namespace Platform {

// What the window functions need to know of one top-level window.
struct TopLevelWindow {
    std::uintptr_t handle = 0;
    std::uint32_t processId = 0;
    bool owned = false;
    bool visible = false;
};

// A client area as the system reports it.
struct ClientSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// --- Implemented once per OS -------------------------------------------------------------------

// Returns the id of the calling process.
std::uint32_t currentProcessId();

// Returns the top-level windows of the desktop in the system's order (topmost first); empty where
// the library knows no window system.
std::vector<TopLevelWindow> listTopLevelWindows();

// Reads the client area of the window `handle` into `size`; false when it cannot be read.
bool readClientSize(std::uintptr_t handle, ClientSize& size);

// --- Portable, tested on every host -------------------------------------------------------------

// Returns the first window of `windows` that belongs to `processId`, has no owner and is visible,
// or nullptr when none does.
const TopLevelWindow* mainWindowSearch(const std::vector<TopLevelWindow>& windows,
                                       std::uint32_t processId);

// Returns the first window of `windows` that belongs to `processId`, whatever its owner and
// visibility, or nullptr when none does.
const TopLevelWindow* processWindowSearch(const std::vector<TopLevelWindow>& windows,
                                          std::uint32_t processId);

// Returns the client size of the main window of `processId` among `windows`, read with
// `readClientSize`; 0 by 0 when there is no main window or its size cannot be read.
template <typename ReadClientSize>
ClientSize mainWindowClientSize(const std::vector<TopLevelWindow>& windows, std::uint32_t processId,
                                ReadClientSize readClientSize) {
    const TopLevelWindow* window = mainWindowSearch(windows, processId);
    if (window == nullptr) return ClientSize{};
    ClientSize size;
    if (!readClientSize(window->handle, size)) return ClientSize{};
    return size;
}

// Returns a length of the client area as an unsigned pixel count; a negative length counts as 0.
std::uint32_t pixelCount(std::int32_t length);

// Returns true when the client area is wider than high.
bool isLandscape(const ClientSize& size);

}  // namespace Platform
}  // namespace ORBA
