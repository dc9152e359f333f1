#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <memory>
#include <utility>

#include "platform/BackgroundThread.h"

namespace ORBA {
namespace Platform {
namespace {

struct ThreadStart {
    std::function<void()> work;
    HMODULE module;
};

thread_local bool tlsLibraryThread = false;

DWORD WINAPI runAndRelease(LPVOID parameter) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    tlsLibraryThread = true;
    // Below the game's threads: Windows runs the highest ready priority first, so a game's thread
    // that becomes ready takes the processor at once instead of sharing it a quantum at a time.
    // The system still lifts a thread left waiting for seconds, so the work is never starved.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    const HMODULE module = start->module;
    try {
        start->work();
    } catch (...) {
        // Nothing may escape a thread procedure.
    }
    start.reset();
    // Drops the thread's reference and ends the thread without returning into code that the
    // release may just have unmapped.
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

bool startBackgroundThread(std::function<void()> work) {
    HMODULE module = nullptr;
    // Takes a reference of the thread's own on the module holding this code.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&runAndRelease), &module)) {
        return false;
    }
    auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(work), module});
    HANDLE thread = CreateThread(nullptr, 0, runAndRelease, start.get(), 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(module);
        return false;
    }
    start.release();
    CloseHandle(thread);
    return true;
}

void yieldToHostThreads() {
    if (tlsLibraryThread) SwitchToThread();
}

bool mayWaitForBackgroundThreads() { return false; }

}  // namespace Platform
}  // namespace ORBA
