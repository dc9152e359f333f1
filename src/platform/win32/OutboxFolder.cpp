#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/OutboxFolder.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "core/Utf.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {
namespace {

std::wstring wide(const std::string& utf8) {
    const std::u16string text = Core::utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

// The UTF-16 form of a UTF-8 path; nothing for a text that is not UTF-8.
std::optional<std::wstring> widePath(const std::string& utf8) {
    try {
        return wide(utf8);
    } catch (const std::range_error&) {
        return std::nullopt;
    }
}

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

// Reads the open file `file` whole into `bytes` when it is a disk file of at most `maxBytes`.
FileRead readOpenFile(HANDLE file, std::size_t maxBytes, std::string& bytes) {
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        return FileRead::Failed;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) return FileRead::TooLarge;
    // One byte more than its size shows that it grew: a whole stored file never changes.
    const auto expected = static_cast<std::size_t>(size.QuadPart);
    bytes.resize(expected + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data() + done, chunk, &read, nullptr)) {
            return FileRead::Failed;
        }
        if (read == 0) break;
        done += read;
    }
    if (done > expected) return FileRead::Failed;
    bytes.resize(done);
    return FileRead::Read;
}

}  // namespace

std::string outboxFolder() {
    try {
        const std::string base = localAppData();
        return base.empty() ? base : base + "\\ORBA\\Tracker\\outbox";
    } catch (const std::range_error&) {
        return std::string();  // an unpaired surrogate in the profile path
    }
}

bool makePrivateFolders(const std::string& path) {
    // The local application data folder is already private to its user; folders made inside it
    // inherit that.
    try {
        const std::filesystem::path folder(wide(path));
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        return std::filesystem::is_directory(folder, error);
    } catch (const std::range_error&) {
        return false;
    }
}

FileRead readWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    const std::optional<std::wstring> widened = widePath(path);
    if (!widened) return FileRead::Failed;
    const std::wstring& name = *widened;
    // The C runtime's open shares reading and writing but not deletion, so a sender would fail to
    // remove a delivered request while another process lists the outbox, and send it again.
    const FileHandle file(CreateFileW(name.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::Gone
                                                                              : FileRead::Failed;
    }
    return readOpenFile(file.get(), maxBytes, bytes);
}

struct FileClaim::Handle {
    FileHandle file;
};

FileClaim::FileClaim() : handle_(std::make_unique<Handle>()) {}

FileClaim::~FileClaim() = default;

FileClaim::Outcome FileClaim::tryClaim(const std::string& path) {
    if (handle_->file.valid()) return Outcome::Claimed;
    const std::optional<std::wstring> widened = widePath(path);
    if (!widened) return Outcome::Unusable;
    const std::wstring& name = *widened;
    // A handle that shares nothing keeps every other open out, from this process or another,
    // until it is closed, which the system does for a process that ends. A link is not followed.
    handle_->file = FileHandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD error = handle_->file.valid() ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        // A folder that cannot be written still has its lock file.
        handle_->file = FileHandle(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                               nullptr));
        error = handle_->file.valid() ? ERROR_SUCCESS : GetLastError();
    }
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return Outcome::Held;
    if (!handle_->file.valid()) return Outcome::Unusable;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle_->file.get(), &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        handle_->file = FileHandle();
        return Outcome::Unusable;
    }
    return Outcome::Claimed;
}

// Windows has no file without a name in a folder: the writer makes its file itself.
struct NamelessFile::Handle {};

NamelessFile::NamelessFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

NamelessFile::~NamelessFile() = default;

bool NamelessFile::supported() { return false; }

std::unique_ptr<NamelessFile> NamelessFile::make(const std::string&) { return nullptr; }

bool NamelessFile::writeAndName(const std::string&, const std::string&) { return false; }

struct MappedFile::Handle {
    // Opened without sharing: another process's open fails while this one holds the file, and
    // the system closes it for a process that ends however it ends.
    FileHandle file;
    KernelHandle mapping;
    void* view = nullptr;
    std::string copy;  // a claimed file's bytes, read rather than mapped
    std::size_t size = 0;
    ~Handle() {
        if (view != nullptr) UnmapViewOfFile(view);
    }
};

MappedFile::MappedFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

MappedFile::~MappedFile() = default;

bool MappedFile::supported() { return true; }

std::unique_ptr<MappedFile> MappedFile::create(const std::string& path, std::size_t size) {
    const std::optional<std::wstring> widened = widePath(path);
    if (!widened) return nullptr;
    const std::wstring& name = *widened;
    if (size == 0) return nullptr;
    auto handle = std::make_unique<Handle>();
    handle->file = FileHandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle->file.valid()) return nullptr;
    const auto fail = [&name, &handle]() -> std::unique_ptr<MappedFile> {
        handle.reset();
        DeleteFileW(name.c_str());
        return nullptr;
    };
    // Setting the end takes the room on the disk at once, so that writing through the view later
    // cannot fail for want of it.
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle->file.get(), end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(handle->file.get())) {
        return fail();
    }
    handle->mapping = KernelHandle(
        CreateFileMappingW(handle->file.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
    if (!handle->mapping.valid()) return fail();
    handle->view = MapViewOfFile(handle->mapping.get(), FILE_MAP_WRITE, 0, 0, size);
    if (handle->view == nullptr) return fail();
    handle->size = size;
    return std::unique_ptr<MappedFile>(new MappedFile(std::move(handle)));
}

std::unique_ptr<MappedFile> MappedFile::claim(const std::string& path, std::size_t maxSize) {
    const std::optional<std::wstring> widened = widePath(path);
    if (!widened) return nullptr;
    const std::wstring& name = *widened;
    auto handle = std::make_unique<Handle>();
    // A link is not followed: it could lead anywhere.
    // Write access, so that what was written out of it can be marked as such in the file.
    handle->file = FileHandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!handle->file.valid()) return nullptr;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle->file.get(), &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return nullptr;
    }
    if (readOpenFile(handle->file.get(), maxSize, handle->copy) != FileRead::Read ||
        handle->copy.empty()) {
        return nullptr;
    }
    handle->size = handle->copy.size();
    return std::unique_ptr<MappedFile>(new MappedFile(std::move(handle)));
}

unsigned char* MappedFile::data() const {
    return handle_->view != nullptr ? static_cast<unsigned char*>(handle_->view)
                                    : reinterpret_cast<unsigned char*>(&handle_->copy[0]);
}

std::size_t MappedFile::size() const { return handle_->size; }

bool MappedFile::writeBack(std::size_t offset, std::size_t size) {
    if (handle_->view != nullptr) return true;  // a view is the file already
    if (offset > handle_->copy.size() || handle_->copy.size() - offset < size) return false;
    for (std::size_t done = 0; done < size;) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
        DWORD wrote = 0;
        if (!WriteFile(handle_->file.get(), handle_->copy.data() + position, chunk, &wrote, &at) ||
            wrote == 0) {
            return false;
        }
        done += wrote;
    }
    return true;
}

void MappedFile::discard() {
    // Removed when this object closes it; until then no other process can open it.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(handle_->file.get(), FileDispositionInfo, &disposition,
                               sizeof disposition);
}

}  // namespace Platform
}  // namespace ORBA
