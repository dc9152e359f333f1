// Reads the desktop's top-level windows. One implementation per platform.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/MainWindow.h"

namespace ORBA {
namespace Platform {

// Returns the id of the calling process.
std::uint32_t currentProcessId();

// Returns the top-level windows of the desktop in the system's order (topmost first); empty where
// the library knows no window system.
std::vector<TopLevelWindow> listTopLevelWindows();

// Reads the client area of the window `handle` into `size`; false when it cannot be read.
bool readClientSize(std::uintptr_t handle, ClientSize& size);

}  // namespace Platform
}  // namespace ORBA
