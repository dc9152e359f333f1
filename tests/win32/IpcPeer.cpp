// A host process for the channel tests, built like a game: it links the DLL, and a second thread
// owns a window, opens the channel and pumps messages while the main thread sends. (Wine hands a
// thread hook an empty COPYDATASTRUCT for messages from other processes, so sender and receiver
// share this process.) Everything it sees goes to standard output, one line per event:
//   "A:<length>:<text>"  the first callback got a text ("throw" makes it throw)
//   "B:<length>:<text>"  the second callback got one, which must never happen
//   "W"                  the receiving window procedure got a WM_COPYDATA
//   "M"                  a window of the main thread got a WM_COPYDATA
// It exits with 0 after a fixed sequence of sends, or with a code that names the step that failed.
// Run as "orba_ipc_peer stall" it instead owns a window, takes its messages once, writes "ready"
// and then stops taking any, like a host caught in a long load.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "orba/misc/WindowMessaging.h"

namespace {

using ORBA::Platform::Misc::ipcOpen;
using ORBA::Platform::Misc::ipcSend;

void emit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void emitText(char tag, const std::string& text) {
    emit(std::string(1, tag) + ":" + std::to_string(text.size()) + ":" + text + "\n");
}

LRESULT CALLBACK receiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        emit("W\n");
        return TRUE;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK mainThreadProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        emit("M\n");
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createWindow(const wchar_t* className, WNDPROC procedure, DWORD style) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, className, L"peer", style, 0, 0, 320, 200, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

void sendCopyData(HWND window, ULONG_PTR dwData, DWORD size, const void* data) {
    COPYDATASTRUCT copyData{};
    copyData.dwData = dwData;
    copyData.cbData = size;
    copyData.lpData = const_cast<void*>(data);
    SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copyData));
}

int stall() {
    if (createWindow(L"OrbaIpcStalled", receiverProc, WS_OVERLAPPEDWINDOW) == nullptr) return 5;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    emit("ready\n");
    Sleep(60000);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // texts are bytes; no CR before LF
    if (argc > 1 && std::string(argv[1]) == "stall") return stall();

    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HWND receiverWindow = nullptr;
    std::thread receiver([&] {
        receiverWindow = createWindow(L"OrbaIpcReceiver", receiverProc, WS_OVERLAPPEDWINDOW);
        ipcOpen([](std::string text) {
            emitText('A', text);
            if (text == "throw") throw std::runtime_error("boom");
        });
        ipcOpen([](std::string text) { emitText('B', text); });
        SetEvent(ready);
        if (receiverWindow == nullptr) return;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    });
    const bool started = WaitForSingleObject(ready, 10000) == WAIT_OBJECT_0;
    if (!started || receiverWindow == nullptr) {
        receiver.detach();
        return 3;
    }

    const std::string self = std::to_string(GetCurrentProcessId());
    ipcSend(self, "hello");
    ipcSend(self, std::string("cut\0here", 8));
    ipcSend(" +" + self + "abc", std::string(9999, 'x'));
    ipcSend(self, std::string(10000, 'y'));
    ipcSend(self, "");
    ipcSend(self, "throw");
    // Another program's message: any dwData, a block without a NUL, no block at all.
    sendCopyData(receiverWindow, 7, 5, "hello!");
    sendCopyData(receiverWindow, 0, 0, nullptr);

    // The hook watches the receiving thread only.
    HWND mainWindow = createWindow(L"OrbaIpcMainThread", mainThreadProc, WS_POPUP);
    if (mainWindow == nullptr) return 4;
    sendCopyData(mainWindow, 0, 6, "other");
    DestroyWindow(mainWindow);

    PostMessageW(receiverWindow, WM_CLOSE, 0, 0);
    receiver.join();
    CloseHandle(ready);
    return 0;
}
