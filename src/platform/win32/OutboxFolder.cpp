#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/OutboxFolder.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/win32/PrivateFileCalls.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {
std::string outboxFolder() {
    const std::string base = stateFolder();
    return base.empty() ? base : base + "\\outbox";
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

void MappedFile::readyForWrites() {
    if (handle_->view == nullptr) return;
    // One write per page that leaves its byte as it is, atomic so that it cannot undo another
    // thread's write of the same byte.
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize != 0 ? system.dwPageSize : 4096;
    auto* bytes = static_cast<unsigned char*>(handle_->view);
    for (std::size_t at = 0; at < handle_->size; at += page) {
        __atomic_fetch_or(bytes + at, static_cast<unsigned char>(0), __ATOMIC_RELAXED);
    }
}

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
