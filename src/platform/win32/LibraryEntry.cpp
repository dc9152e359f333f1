#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

// The library starts no thread and keeps no per-thread state, so thread notifications are
// turned off.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
