#include "platform/MainWindow.h"

#include "orba/misc/WindowMessaging.h"

namespace ORBA {
namespace Platform {

const TopLevelWindow* mainWindowSearch(const std::vector<TopLevelWindow>& windows,
                                       std::uint32_t processId) {
    for (const TopLevelWindow& window : windows) {
        if (window.processId == processId && !window.owned && window.visible) return &window;
    }
    return nullptr;
}

const TopLevelWindow* processWindowSearch(const std::vector<TopLevelWindow>& windows,
                                          std::uint32_t processId) {
    for (const TopLevelWindow& window : windows) {
        if (window.processId == processId) return &window;
    }
    return nullptr;
}

std::uint32_t pixelCount(std::int32_t length) {
    return length > 0 ? static_cast<std::uint32_t>(length) : 0;
}

bool isLandscape(const ClientSize& size) { return size.width > size.height; }

namespace {

// Each call looks afresh: the host may create, resize or close windows at any time.
ClientSize currentMainWindowClientSize() {
    try {
        return mainWindowClientSize(listTopLevelWindows(), currentProcessId(), readClientSize);
    } catch (...) {
        return ClientSize{};  // only an exhausted heap gets here; report no window
    }
}

}  // namespace

namespace Misc {

std::uint32_t getWindowWidth() { return pixelCount(currentMainWindowClientSize().width); }

std::uint32_t getWindowHeight() { return pixelCount(currentMainWindowClientSize().height); }

bool getIsLandscapeWindow() { return isLandscape(currentMainWindowClientSize()); }

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
