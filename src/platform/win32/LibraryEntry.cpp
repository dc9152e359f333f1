#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/MessageChannel.h"

// The library keeps no per-thread state, so thread notifications are turned off. Nothing here
// waits for the background sender thread: at process exit (reserved set) the system has already
// ended it, and an unload happens only once it has ended, since it holds a reference of its own.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // A hook left behind by an unloaded library would have the system call into freed code. At
    // process exit (reserved set) the hook goes with the process and user32 may be gone already.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        ORBA::Platform::removeMessageReceiver();
    }
    return TRUE;
}
