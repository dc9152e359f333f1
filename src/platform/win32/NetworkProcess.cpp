// Windows back end of the port, process and version queries.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <tlhelp32.h>
#include <winver.h>

#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <vector>

#include "core/Utf.h"
#include "platform/NetworkProcess.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {
namespace {

HeapBlock allocateTable(ULONG size) {
    HeapBlock block(HeapAlloc(GetProcessHeap(), 0, size));
    if (!block) throw std::runtime_error("Error allocating memory\n");
    return block;
}

}  // namespace

std::vector<std::uint16_t> queryTcpLocalPorts() {
    // Room for the count and one row first; most calls then learn the real size from the answer.
    ULONG size = sizeof(MIB_TCPTABLE);
    HeapBlock block = allocateTable(size);
    if (GetTcpTable(static_cast<PMIB_TCPTABLE>(block.get()), &size, TRUE) == ERROR_INSUFFICIENT_BUFFER) {
        block.reset();
        block = allocateTable(size);
    }
    const DWORD result = GetTcpTable(static_cast<PMIB_TCPTABLE>(block.get()), &size, TRUE);
    if (result != NO_ERROR) {
        char message[64];
        std::snprintf(message, sizeof message, "\tGetTcpTable failed with %d\n", static_cast<int>(result));
        throw std::runtime_error(message);
    }

    const auto* table = static_cast<const MIB_TCPTABLE*>(block.get());
    std::vector<std::uint16_t> ports;
    ports.reserve(table->dwNumEntries);
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        ports.push_back(ntohs(static_cast<u_short>(table->table[i].dwLocalPort & 0xFFFF)));
    }
    return ports;
}

long queryProcessIdByExecutableName(const std::string& executableName) {
    const std::u16string utf16 = Core::utf8ToUtf16(executableName);
    const auto* wanted = reinterpret_cast<const wchar_t*>(utf16.c_str());

    const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, wanted) == 0) return static_cast<long>(entry.th32ProcessID);
    }
    return 0;
}

std::string queryAppVersion() {
    // The game's executable, not this library: the version is the game's.
    constexpr DWORD kPathCapacity = 1024;
    wchar_t path[kPathCapacity];
    const DWORD length = GetModuleFileNameW(nullptr, path, kPathCapacity);
    if (length == 0 || length >= kPathCapacity) return {};  // a cut path names no file of ours

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return {};
    std::vector<unsigned char> resource(size);
    if (!GetFileVersionInfoW(path, 0, size, resource.data())) return {};

    void* block = nullptr;
    UINT blockSize = 0;
    if (!VerQueryValueW(resource.data(), L"\\", &block, &blockSize) || block == nullptr ||
        blockSize < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    return formatProductVersion(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
}

}  // namespace Platform
}  // namespace ORBA
