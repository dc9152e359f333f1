#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/MainWindow.h"

namespace ORBA {
namespace Platform {
namespace {

BOOL CALLBACK collectWindow(HWND window, LPARAM context) {
    auto* windows = reinterpret_cast<std::vector<TopLevelWindow>*>(context);
    TopLevelWindow entry;
    entry.handle = reinterpret_cast<std::uintptr_t>(window);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    entry.processId = processId;
    entry.owned = GetWindow(window, GW_OWNER) != nullptr;
    entry.visible = IsWindowVisible(window) != FALSE;
    try {
        windows->push_back(entry);
    } catch (...) {
        return FALSE;  // out of memory: judge by the windows seen so far
    }
    return TRUE;
}

}  // namespace

std::uint32_t currentProcessId() { return GetCurrentProcessId(); }

std::vector<TopLevelWindow> listTopLevelWindows() {
    std::vector<TopLevelWindow> windows;
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool readClientSize(std::uintptr_t handle, ClientSize& size) {
    RECT client{};
    if (!GetClientRect(reinterpret_cast<HWND>(handle), &client)) return false;
    size.width = client.right - client.left;
    size.height = client.bottom - client.top;
    return true;
}

}  // namespace Platform
}  // namespace ORBA
