#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orba/Logger.h"
#include "platform/IdentityStoreFile.h"
#include "platform/posix/PrivateFileCalls.h"

namespace ORBA {
namespace Platform {
namespace {

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    // A process started without HOME (a service, a stripped environment) still has a home.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return std::string();
}

bool isWithin(const std::string& path, const std::string& folder) {
    return !folder.empty() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

// Closes the folder at `path` to other users when this user owns it. Another user's folder is
// left alone: its owner decides, and the files made in it are private anyway.
void keepFolderPrivate(const std::string& path) {
    FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (!folder || ::fstat(folder.get(), &info) != 0 || (info.st_mode & 077) == 0) return;
    int error = EPERM;
    if (info.st_uid == ::geteuid()) {
        error = ::fchmod(folder.get(), kPrivateFolderMode) == 0 ? 0 : errno;
    }
    if (error != 0) {
        Core::Logger::Log("Folder " + path + " is open to other users and could not be made " +
                          "private: " + std::strerror(error));
    }
}

}  // namespace

int readOpenFile(int fd, std::size_t maxBytes, std::string& bytes) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return EINVAL;
    const std::size_t limit = std::min<std::size_t>(maxBytes, SIZE_MAX - 1);
    if (static_cast<std::uintmax_t>(info.st_size) > limit) return EFBIG;
    // Read straight into `bytes`, in one call for a file that does not grow meanwhile: the identity
    // file of earlier versions holds every game's values, and reading it in small pieces costs a
    // call per piece. The extra byte sees growth.
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > limit) return EFBIG;
            bytes.resize(std::min(2 * bytes.size(), limit + 1));
        }
        const ssize_t got = ::read(fd, &bytes[filled], bytes.size() - filled);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled > limit) return EFBIG;
    bytes.resize(filled);
    return 0;
}

int readFileAt(int at, const char* path, std::size_t maxBytes, std::string& bytes) {
    FileDescriptor file(
        ::openat(at, path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!file) return errno;
    return readOpenFile(file.get(), maxBytes, bytes);
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        if (written == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

FileDescriptor openPrivateAt(int at, const char* path, int flags) {
    FileDescriptor file(
        ::openat(at, path, flags | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, kPrivateFileMode));
    // The mode given to open passes through the umask, and an existing file keeps its own.
    if (file && ::fchmod(file.get(), kPrivateFileMode) != 0) {
        const int error = errno;
        file.reset();
        errno = error;
    }
    return file;
}

int replacePrivateFileAt(int folder, const char* temporary, const char* name,
                         std::string_view bytes) {
    constexpr int kFlags = O_WRONLY | O_TRUNC | O_NONBLOCK;
    FileDescriptor file = openPrivateAt(folder, temporary, kFlags);
    if (!file) {
        ::unlinkat(folder, temporary, 0);
        file = openPrivateAt(folder, temporary, kFlags);
        if (!file) return errno;
    }
    int error = writeAll(file.get(), bytes);
    if (error == 0 && ::fsync(file.get()) != 0) error = errno;
    if (file.reset() != 0 && error == 0) error = errno;
    if (error == 0 && ::renameat(folder, temporary, folder, name) != 0) error = errno;
    if (error != 0) {
        ::unlinkat(folder, temporary, 0);
        return error;
    }
    // Makes the rename itself durable; the new file is already in place if this fails.
    ::fsync(folder);
    return 0;
}

int makePrivateFolderTree(const std::string& path) {
    const std::string own = stateFolder();
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), kPrivateFolderMode) == 0) {
            // An umask that takes the user's own bits would leave a folder the library cannot use.
            ::chmod(prefix.c_str(), kPrivateFolderMode);
        } else if (errno == EEXIST) {
            if (isWithin(prefix, own)) keepFolderPrivate(prefix);
        } else {
            // Some file systems refuse even to try (read-only, no write access to the parent)
            // before noticing that the folder is already there.
            const int error = errno;
            struct stat info {};
            if (::stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return error;
            if (isWithin(prefix, own)) keepFolderPrivate(prefix);
        }
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

std::string stateFolder() {
    const std::string home = homeFolder();
    return identityFolder(std::getenv("XDG_STATE_HOME"), home.c_str());
}

bool makePrivateFolders(const std::string& path) {
    return !path.empty() && makePrivateFolderTree(path) == 0;
}

FileRead readWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    // Links are followed: one found among stored requests reads as whatever it leads to, and is
    // set aside when that is no request.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    const int error = file ? readOpenFile(file.get(), maxBytes, bytes) : errno;
    switch (error) {
        case 0:
            return FileRead::Read;
        case ENOENT:
            return FileRead::Gone;
        case EFBIG:
            return FileRead::TooLarge;
        default:
            return FileRead::Failed;
    }
}

bool writePrivateFile(const std::string& path, const std::string& bytes) {
    FileDescriptor file = openPrivateAt(AT_FDCWD, path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK);
    if (!file || writeAll(file.get(), bytes) != 0) return false;
    return file.reset() == 0;
}

}  // namespace Platform
}  // namespace ORBA
