#include "platform/MainWindow.h"

#include <unistd.h>

namespace ORBA {
namespace Platform {

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

// The library talks to no window system on Linux, so the process has no main window to measure.
std::vector<TopLevelWindow> listTopLevelWindows() { return {}; }

bool readClientSize(std::uintptr_t, ClientSize&) { return false; }

}  // namespace Platform
}  // namespace ORBA
