// The Windows handles the platform layer owns, each a UniqueHandle with its own way to close.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/UniqueHandle.h"

namespace ORBA {
namespace Platform {

// A kernel object that null marks as absent (mutexes, events, processes, threads).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE handle) noexcept { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// A kernel object from the calls that mark failure with INVALID_HANDLE_VALUE (CreateFile,
// CreateToolhelp32Snapshot).
struct FileHandleTraits {
    using Handle = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) noexcept { CloseHandle(handle); }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

struct RegistryKeyTraits {
    using Handle = HKEY;
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { RegCloseKey(key); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

// A loaded library; release() keeps it loaded for good.
struct ModuleHandleTraits {
    using Handle = HMODULE;
    static HMODULE invalid() noexcept { return nullptr; }
    static void close(HMODULE module) noexcept { FreeLibrary(module); }
};
using ModuleHandle = UniqueHandle<ModuleHandleTraits>;

// A block of the process heap.
struct HeapBlockTraits {
    using Handle = void*;
    static void* invalid() noexcept { return nullptr; }
    static void close(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
};
using HeapBlock = UniqueHandle<HeapBlockTraits>;

}  // namespace Platform
}  // namespace ORBA
