// Windows carries each block as a WM_COPYDATA message to a window of the receiving process; a
// thread hook of the receiving thread sees it before the window procedure does.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/DebugOutput.h"
#include "platform/MainWindow.h"
#include "platform/MessageChannel.h"

namespace ORBA {
namespace Platform {
namespace {

HHOOK g_ORBAWndHook = nullptr;

// As long as the Linux back end waits for a receiver.
constexpr UINT kSendTimeoutMilliseconds = 5000;

// A block with its COPYDATASTRUCT, together so that both can outlive the send.
struct CopyDataBlock {
    COPYDATASTRUCT copyData{};
    std::string bytes;
};

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
    auto block = std::make_unique<CopyDataBlock>();
    block->bytes.assign(data, size);
    block->copyData.dwData = 0;
    block->copyData.cbData = static_cast<DWORD>(size);
    block->copyData.lpData = &block->bytes[0];
    // A receiver that stopped taking messages must not hold the game: give up after the bound,
    // at once when the system already counts the window as hung. SMTO_NORMAL keeps answering
    // messages sent to this thread meanwhile, as SendMessageW does.
    const ULONGLONG start = GetTickCount64();
    DWORD_PTR result = 0;
    SetLastError(ERROR_SUCCESS);
    const LRESULT sent = SendMessageTimeoutW(
        reinterpret_cast<HWND>(target->handle), WM_COPYDATA, 0,
        reinterpret_cast<LPARAM>(&block->copyData), SMTO_NORMAL | SMTO_ABORTIFHUNG,
        kSendTimeoutMilliseconds, &result);
    if (sent != 0) return;
    const DWORD error = GetLastError();
    const ULONGLONG waited = GetTickCount64() - start;
    // The system copies the block for another process, but a thread of this one is handed the
    // sender's memory, and a message that timed out may still be read later: keep it then. A
    // send refused at once as hung was never queued.
    if (processId == currentProcessId() && waited + 100 >= kSendTimeoutMilliseconds) {
        static_cast<void>(block.release());
    }
    if (error == ERROR_TIMEOUT) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "ipcSend: process %lu did not take the message within %u ms; not delivered\n",
                      static_cast<unsigned long>(processId), kSendTimeoutMilliseconds);
        writeDebugOutputNarrow(line);
    }
}

}  // namespace Platform
}  // namespace ORBA
