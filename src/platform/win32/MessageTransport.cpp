// Windows carries each block as a WM_COPYDATA message to a window of the receiving process; a
// thread hook of the receiving thread sees it before the window procedure does.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/MessageTransport.h"
#include "platform/TopLevelWindows.h"

namespace ORBA {
namespace Platform {
namespace {

HHOOK g_ORBAWndHook = nullptr;

LRESULT CALLBACK copyDataHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (call != nullptr && call->message == WM_COPYDATA) {
            // Any program may send this message, with a null structure or a null block.
            const void* data = nullptr;
            DWORD size = 0;
            if (const auto* copyData = reinterpret_cast<const COPYDATASTRUCT*>(call->lParam)) {
                data = copyData->lpData;
                size = copyData->cbData;
            }
            deliverMessageBlock(data, size);
        }
    }
    return CallNextHookEx(g_ORBAWndHook, code, wParam, lParam);
}

}  // namespace

bool installMessageReceiver() {
    g_ORBAWndHook =
        SetWindowsHookExA(WH_CALLWNDPROC, copyDataHookProc, nullptr, GetCurrentThreadId());
    return g_ORBAWndHook != nullptr;
}

void removeMessageReceiver() {
    if (g_ORBAWndHook == nullptr) return;
    UnhookWindowsHookEx(g_ORBAWndHook);
    g_ORBAWndHook = nullptr;
}

void sendMessageBlock(std::uint32_t processId, const char* data, std::size_t size) {
    const std::vector<TopLevelWindow> windows = listTopLevelWindows();
    const TopLevelWindow* target = processWindowSearch(windows, processId);
    if (target == nullptr) return;
    COPYDATASTRUCT copyData{};
    copyData.dwData = 0;
    copyData.cbData = static_cast<DWORD>(size);
    copyData.lpData = const_cast<char*>(data);
    SendMessageW(reinterpret_cast<HWND>(target->handle), WM_COPYDATA, 0,
                 reinterpret_cast<LPARAM>(&copyData));
}

}  // namespace Platform
}  // namespace ORBA
