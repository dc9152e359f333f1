// The identity lives in one small file per user. Every game on the machine may write it at the
// same moment, so a write edits it under an exclusive lock and replaces it by rename: readers see
// either the old or the new file, never a half-written one, and no writer's value is lost.
#include "platform/IdentityStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/IdentityFile.h"
#include "platform/Uuid.h"

#include "platform/posix/FileDescriptor.h"

namespace ORBA {
namespace Platform {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

void printError(const char* format, int code) {
    std::printf(format, code);
    std::fflush(stdout);
}

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

std::string storeFolder() {
    const std::string home = homeFolder();
    return identityFolder(std::getenv("XDG_STATE_HOME"), home.c_str());
}

// Creates `path` and its missing parents, each private to the user. Returns 0 or an errno.
int makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            // Some file systems refuse even to try (read-only, no write access to the parent)
            // before noticing that the folder is already there.
            const int error = errno;
            struct stat info {};
            if (::stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return error;
        }
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

// Reads the whole file into `text`. Returns 0, or an errno (ENOENT when there is no file).
int readWholeFile(const std::string& path, std::string& text) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return errno;
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got == 0) return 0;
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int writeAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Puts `text` in place of the file at `path`, which lies in `folder`. The data reaches the disk
// before the rename, so a crash leaves either the old file or the complete new one.
int replaceFile(const std::string& folder, const std::string& path, const std::string& text) {
    std::string temporary = path + ".XXXXXX";
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.valid()) return errno;
    int error = ::fchmod(file.get(), kFileMode) != 0 ? errno : 0;
    if (error == 0) error = writeAll(file.get(), text);
    if (error == 0 && ::fsync(file.get()) != 0) error = errno;
    if (file.reset() != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    // Makes the rename itself durable; the new file is already in place if this fails.
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid()) ::fsync(directory.get());
    return 0;
}

int lockExclusively(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

bool fillFromGetrandom(UuidBytes& bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;  // ENOSYS on kernels older than 3.17, or a sandbox that forbids it
        }
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

bool fillFromUrandom(UuidBytes& bytes) {
    FileDescriptor file(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return false;
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

std::uint64_t fallbackSeed() {
    static std::atomic<std::uint64_t> calls{0};
    timespec realtime{};
    timespec monotonic{};
    ::clock_gettime(CLOCK_REALTIME, &realtime);
    ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
    std::uint64_t seed = static_cast<std::uint64_t>(realtime.tv_sec) * 1000000000ULL +
                         static_cast<std::uint64_t>(realtime.tv_nsec);
    seed ^= (static_cast<std::uint64_t>(::getpid()) << 32) ^
            static_cast<std::uint64_t>(monotonic.tv_nsec) ^
            (calls.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
    return seed;
}

}  // namespace

std::string readIdentityValue(const std::string& name, std::size_t maxBytes) {
    if (!isStorableName(name)) return std::string();
    const std::string folder = storeFolder();
    if (folder.empty()) return std::string();
    // No lock: writers replace the file by rename, so this sees one complete version of it.
    std::string text;
    if (readWholeFile(folder + "/" + kIdentityFileName, text) != 0) return std::string();
    std::optional<std::string> value = IdentityFile::parse(text).find(name);
    if (!value) return std::string();
    const std::size_t nul = value->find('\0');  // only a hand-edited file holds one
    if (nul != std::string::npos) value->resize(nul);
    if (value->size() + 1 > maxBytes) return std::string();
    return *value;
}

bool writeIdentityValue(const std::string& name, const std::string& value) {
    if (!isStorableName(name) || !isStorableValue(value)) {
        printError("Error setting key %d\n", EINVAL);
        return false;
    }
    const std::string folder = storeFolder();
    if (folder.empty()) {
        printError("Error opening key %d\n", ENOENT);
        return false;
    }
    if (const int error = makeFolders(folder)) {
        printError("Error opening key %d\n", error);
        return false;
    }
    const std::string lockPath = folder + "/" + kIdentityLockName;
    FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode));
    if (!lock.valid()) {
        printError("Error opening key %d\n", errno);
        return false;
    }
    if (const int error = lockExclusively(lock.get())) {
        printError("Error opening key %d\n", error);
        return false;
    }
    const std::string path = folder + "/" + kIdentityFileName;
    std::string text;
    if (const int error = readWholeFile(path, text); error != 0 && error != ENOENT) {
        // Writing now would drop every value the unreadable file holds.
        printError("Error opening key %d\n", error);
        return false;
    }
    IdentityFile file = IdentityFile::parse(text);
    if (file.find(name) == value) return true;
    file.set(name, value);
    if (const int error = replaceFile(folder, path, file.serialise())) {
        printError("Error setting key %d\n", error);
        return false;
    }
    return true;
}

std::string makeUuid() {
    UuidBytes bytes{};
    if (fillFromGetrandom(bytes) || fillFromUrandom(bytes)) return uuidFromRandomBytes(bytes);
    return uuidFromRandomBytes(fallbackRandomBytes(fallbackSeed()));
}

}  // namespace Platform
}  // namespace ORBA
