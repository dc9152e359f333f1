// The local application data folder is already private to its user, and what is made inside it
// inherits that: no file or folder needs a mode of its own here.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/PrivateFiles.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "core/Utf.h"
#include "platform/win32/PrivateFileCalls.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {
namespace {

std::string narrow(const wchar_t* text) {
    const std::wstring_view view(text);
    return Core::utf16ToUtf8(std::u16string(view.begin(), view.end()));
}

std::string localAppData() {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path)) &&
        path != nullptr) {
        folder = narrow(path);
    }
    CoTaskMemFree(path);
    if (!folder.empty()) return folder;
    // A profile whose known folders cannot be resolved may still say where through the variable.
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) return std::string();
    return narrow(buffer);
}

}  // namespace

std::optional<std::wstring> widePath(const std::string& utf8) {
    try {
        const std::u16string text = Core::utf8ToUtf16(utf8);
        return std::wstring(text.begin(), text.end());
    } catch (const std::range_error&) {
        return std::nullopt;
    }
}

FileRead readOpenFile(HANDLE file, std::size_t maxBytes, std::string& bytes) {
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        return FileRead::Failed;
    }
    maxBytes = std::min<std::size_t>(maxBytes, SIZE_MAX - 1);
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) return FileRead::TooLarge;
    // One byte more than its size shows that it grew past the bound while read.
    const auto expected = static_cast<std::size_t>(size.QuadPart);
    bytes.resize(expected + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done > maxBytes) return FileRead::TooLarge;
            bytes.resize(std::min(2 * bytes.size(), maxBytes + 1));
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data() + done, chunk, &read, nullptr)) {
            return FileRead::Failed;
        }
        if (read == 0) break;
        done += read;
    }
    if (done > maxBytes) return FileRead::TooLarge;
    bytes.resize(done);
    return FileRead::Read;
}

std::string stateFolder() {
    try {
        const std::string base = localAppData();
        return base.empty() ? base : base + "\\ORBA\\Tracker";
    } catch (const std::range_error&) {
        // An unpaired surrogate in the profile path: any stand-in character would name another
        // folder.
        return std::string();
    }
}

bool makePrivateFolders(const std::string& path) {
    const std::optional<std::wstring> widened = widePath(path);
    if (!widened) return false;
    const std::filesystem::path folder(*widened);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

FileRead readWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    const std::optional<std::wstring> widened = widePath(path);
    if (!widened) return FileRead::Failed;
    // The C runtime's open shares reading and writing but not deletion, so a sender would fail to
    // remove a delivered request while another process lists the outbox, and send it again.
    const FileHandle file(CreateFileW(widened->c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::Gone
                                                                              : FileRead::Failed;
    }
    return readOpenFile(file.get(), maxBytes, bytes);
}

bool writePrivateFile(const std::string& path, const std::string& bytes) {
    const std::optional<std::wstring> widened = widePath(path);
    if (!widened) return false;
    // A link is not followed, and another process may still remove or rename the file, as the
    // outbox's listing does with a temporary whose writer stopped.
    const FileHandle file(
        CreateFileW(widened->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return false;
    std::string_view left(bytes);
    while (!left.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left.size(), 1 << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), left.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        left.remove_prefix(written);
    }
    return true;
}

}  // namespace Platform
}  // namespace ORBA
