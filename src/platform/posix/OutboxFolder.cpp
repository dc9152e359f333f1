#include "platform/OutboxFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/posix/FileDescriptor.h"
#include "platform/posix/PrivateFileCalls.h"

namespace ORBA {
namespace Platform {

std::string outboxFolder() {
    const std::string folder = stateFolder();
    return folder.empty() ? folder : folder + "/outbox";
}

struct FileClaim::Handle {
    FileDescriptor file;
};

FileClaim::FileClaim() : handle_(std::make_unique<Handle>()) {}

FileClaim::~FileClaim() = default;

FileClaim::Outcome FileClaim::tryClaim(const std::string& path) {
    if (handle_->file.valid()) return Outcome::Claimed;
    // flock belongs to the open file description: another open of the same file, in this process
    // or any other, is refused until this one is closed, which the kernel does for a dead process.
    // Not blocking, so that a FIFO at its name cannot hold the thread.
    FileDescriptor file = openPrivateAt(AT_FDCWD, path.c_str(), O_RDWR | O_NONBLOCK);
    // A read-only folder still has its lock file, and flock needs no write access.
    if (!file.valid() && (errno == EROFS || errno == EACCES || errno == EPERM)) {
        file.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    }
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return Outcome::Unusable;
    }
    while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return Outcome::Held;
        if (errno != EINTR) return Outcome::Unusable;
    }
    handle_->file.reset(file.release());
    return Outcome::Claimed;
}

struct NamelessFile::Handle {
    FileDescriptor file;
};

NamelessFile::NamelessFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

NamelessFile::~NamelessFile() = default;

bool NamelessFile::supported() {
#ifdef O_TMPFILE
    return true;
#else
    return false;
#endif
}

std::unique_ptr<NamelessFile> NamelessFile::make(const std::string& folder) {
#ifdef O_TMPFILE
    // Without O_EXCL, so that it may be given a name later.
    FileDescriptor file(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kPrivateFileMode));
    // Its mode passed through the umask.
    if (!file || ::fchmod(file.get(), kPrivateFileMode) != 0) return nullptr;
    auto handle = std::make_unique<Handle>();
    handle->file = std::move(file);
    return std::unique_ptr<NamelessFile>(new NamelessFile(std::move(handle)));
#else
    (void)folder;
    return nullptr;
#endif
}

bool NamelessFile::writeAndName(const std::string& bytes, const std::string& path) {
    const FileDescriptor file = std::move(handle_->file);
    if (!file || writeAll(file.get(), bytes) != 0) return false;
    // Naming an open file by its descriptor needs a privilege; its /proc link does not.
    const std::string link = "/proc/self/fd/" + std::to_string(file.get());
    return ::linkat(AT_FDCWD, link.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

struct MappedFile::Handle {
    FileDescriptor file;  // holds the flock that says a living process owns the file
    void* bytes = MAP_FAILED;
    std::string copy;  // a claimed file's bytes, read rather than mapped
    std::size_t size = 0;
    std::string path;
    ~Handle() {
        if (bytes != MAP_FAILED) ::munmap(bytes, size);
    }
};

MappedFile::MappedFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

MappedFile::~MappedFile() = default;

bool MappedFile::supported() { return true; }

namespace {

bool lockWithoutWaiting(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<MappedFile> MappedFile::create(const std::string& path, std::size_t size) {
    auto handle = std::make_unique<Handle>();
    handle->file = openPrivateAt(AT_FDCWD, path.c_str(), O_RDWR | O_EXCL);
    if (!handle->file || !lockWithoutWaiting(handle->file.get()) || size == 0) return nullptr;
    // A sparse file would take its room on first write to the mapping, and a full disk would
    // then kill the process with SIGBUS.
    if (::posix_fallocate(handle->file.get(), 0, static_cast<off_t>(size)) != 0) {
        ::unlink(path.c_str());
        return nullptr;
    }
    handle->bytes = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE,
                           handle->file.get(), 0);
    if (handle->bytes == MAP_FAILED) {
        ::unlink(path.c_str());
        return nullptr;
    }
    handle->size = size;
    handle->path = path;
    return std::unique_ptr<MappedFile>(new MappedFile(std::move(handle)));
}

std::unique_ptr<MappedFile> MappedFile::claim(const std::string& path, std::size_t maxSize) {
    auto handle = std::make_unique<Handle>();
    handle->file.reset(
        ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!handle->file || !lockWithoutWaiting(handle->file.get())) return nullptr;
    // Read rather than mapped: a file that shrinks under a mapping kills the reader (SIGBUS), and
    // this one was left by another process.
    if (readOpenFile(handle->file.get(), maxSize, handle->copy) != 0 || handle->copy.empty()) {
        return nullptr;
    }
    handle->size = handle->copy.size();
    handle->path = path;
    return std::unique_ptr<MappedFile>(new MappedFile(std::move(handle)));
}

unsigned char* MappedFile::data() const {
    return handle_->bytes != MAP_FAILED ? static_cast<unsigned char*>(handle_->bytes)
                                        : reinterpret_cast<unsigned char*>(&handle_->copy[0]);
}

std::size_t MappedFile::size() const { return handle_->size; }

void MappedFile::discard() { ::unlink(handle_->path.c_str()); }

void MappedFile::readyForWrites() {
    if (handle_->bytes == MAP_FAILED) return;
#ifdef MADV_POPULATE_WRITE
    if (::madvise(handle_->bytes, handle_->size, MADV_POPULATE_WRITE) == 0) return;
#endif
    // Older kernels: one write per page that leaves its byte as it is, atomic so that it cannot
    // undo another thread's write of the same byte.
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* bytes = static_cast<unsigned char*>(handle_->bytes);
    for (std::size_t at = 0; page > 0 && at < handle_->size; at += static_cast<std::size_t>(page)) {
        __atomic_fetch_or(bytes + at, static_cast<unsigned char>(0), __ATOMIC_RELAXED);
    }
}

bool MappedFile::writeBack(std::size_t offset, std::size_t size) {
    if (handle_->bytes != MAP_FAILED) return true;  // a mapping is the file already
    if (offset > handle_->copy.size() || handle_->copy.size() - offset < size) return false;
    for (std::size_t done = 0; done < size;) {
        const ssize_t wrote = ::pwrite(handle_->file.get(), handle_->copy.data() + offset + done,
                                       size - done, static_cast<off_t>(offset + done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace Platform
}  // namespace ORBA
