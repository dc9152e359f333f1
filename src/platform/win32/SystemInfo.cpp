#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winver.h>

#include <cstdint>
#include <cwchar>
#include <limits>
#include <string>
#include <vector>

#include "core/Utf.h"
#include "platform/SystemInfo.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {
namespace {

constexpr const wchar_t* kCurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const wchar_t* kProcessorKey = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr DWORD kProcessorNameUnits = 512;

// A key of HKEY_LOCAL_MACHINE opened for reading. The wide API is
// used throughout: the processor name is stored as UTF-16 and must not pass the ANSI code page.
class LocalMachineKey {
public:
    explicit LocalMachineKey(const wchar_t* path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            key_.reset(key);
        }
    }

    bool isOpen() const { return key_.valid(); }

    // Copies the value's bytes, whatever its registry type, into `buffer` of `size` bytes; on
    // success `size` holds the number copied.
    bool read(const wchar_t* name, void* buffer, DWORD& size) const {
        return RegQueryValueExW(key_.get(), name, nullptr, nullptr, static_cast<BYTE*>(buffer), &size) ==
               ERROR_SUCCESS;
    }

    bool readNumber(const wchar_t* name, DWORD& value) const {
        DWORD size = sizeof value;
        return read(name, &value, size);
    }

private:
    RegistryKey key_;
};

// Windows 10 and later: kernel numbers from RtlGetVersion, which unlike GetVersionEx is not
// capped by the application's manifest, and the update build revision from the registry.
std::string modernOsVersion() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::string();
    const FARPROC proc = GetProcAddress(ntdll, "RtlGetVersion");
    if (proc == nullptr) return std::string();
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(proc));

    static_assert(sizeof(OSVERSIONINFOW) == 276, "RtlGetVersion expects the 276-byte structure");
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    // A failed call leaves zeros, which would pass for a version; kernel32 answers instead.
    if (rtlGetVersion(&info) != 0) return std::string();

    const LocalMachineKey key(kCurrentVersionKey);
    if (!key.isOpen()) return std::string();
    DWORD updateRevision = 0;
    // Absent before the first cumulative update; a failed read may leave bytes behind.
    if (!key.readNumber(L"UBR", updateRevision)) updateRevision = 0;
    return joinVersionNumbers(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                              updateRevision);
}

// Before Windows 10 the kernel's own file version is the most precise figure available.
std::string kernel32FileVersion() {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeExW(FILE_VER_GET_NEUTRAL, L"kernel32.dll", &ignored);
    if (size == 0) return std::string();
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoExW(FILE_VER_GET_NEUTRAL, L"kernel32.dll", 0, size, data.data())) {
        return std::string();
    }
    void* block = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", &block, &length) || block == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return std::string();
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    return fileVersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
}

}  // namespace

std::string queryOsVersion() {
    bool modern = false;
    {
        const LocalMachineKey key(kCurrentVersionKey);
        DWORD major = 0;
        modern = key.isOpen() && key.readNumber(L"CurrentMajorVersionNumber", major) && major >= 10;
    }
    std::string version;
    if (modern) version = modernOsVersion();
    if (version.empty()) version = kernel32FileVersion();
    return version;
}

std::string platformLetter() { return "W"; }

std::string queryCpuType() {
    // The native view: a 32-bit build under WOW64 must still report the machine's architecture.
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return cpuTypeFromArchitecture(info.wProcessorArchitecture);
}

std::string queryCpuModel() {
    std::u16string name;
    {
        const LocalMachineKey key(kProcessorKey);
        if (!key.isOpen()) return "unknown cpu";
        wchar_t buffer[kProcessorNameUnits] = {};
        DWORD size = sizeof buffer;
        if (key.read(L"ProcessorNameString", buffer, size)) {
            // A name that fills the whole buffer carries no terminator of its own.
            const std::size_t units = wcsnlen(buffer, kProcessorNameUnits);
            name.assign(reinterpret_cast<const char16_t*>(buffer), units);
        }
    }
    return Core::utf16ToUtf8(name);
}

std::int64_t queryInstalledMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    const auto limit = static_cast<DWORDLONG>(std::numeric_limits<std::int64_t>::max());
    if (status.ullTotalPhys > limit) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(status.ullTotalPhys);
}

}  // namespace Platform
}  // namespace ORBA
