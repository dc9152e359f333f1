// The identity lives in small files per user, one per value name, in a folder beside the lock.
// Every game on the machine may write at the same moment, so a write edits a file under an
// exclusive lock and replaces it by rename: readers see either the old or the new file, never a
// half-written one, and no writer's value is lost. A value costs the same however many other
// games keep theirs there. Earlier versions kept every value in one file; it is still read for
// what no bucket holds yet, and an update moves such a value into its bucket, but it is never
// written. Paths are only ever opened as regular files: whatever else is found there (a FIFO, a
// device, a link to some other file) counts as an unreadable store, which is never overwritten.
#include "platform/IdentityStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/IdentityStoreFile.h"
#include "platform/PrivateFiles.h"
#include "platform/Uuid.h"

#include "platform/posix/FileDescriptor.h"
#include "platform/posix/PrivateFileCalls.h"

namespace ORBA {
namespace Platform {
namespace {

// Far beyond any real store (a few dozen bytes per app), small enough to read into memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

// Reads the whole file at `path` (relative to the folder `at`) into `text`. Returns 0, or an errno
// (ENOENT when there is no file, ELOOP for a symbolic link, EISDIR for a folder, EINVAL for
// anything else that is not a regular file, EFBIG past the size limit).
int readWholeFile(int at, const char* path, std::string& text) {
    return readFileAt(at, path, kMaxFileBytes, text);
}

void printError(const char* format, int code) {
    std::printf(format, code);
    std::fflush(stdout);
}

// Puts `text` in place of the bucket `name` in the open folder `folder`.
int replaceBucket(int folder, const std::string& name, const std::string& text) {
    return replacePrivateFileAt(folder, kIdentityBucketTemporaryName, name.c_str(), text);
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

// The stored text as a read through a buffer of `maxBytes` bytes yields it: up to its first NUL
// (only a hand-edited file holds one), and empty when absent or too long.
std::string boundedValue(std::optional<std::string> value, std::size_t maxBytes) {
    if (!value) return std::string();
    const std::size_t nul = value->find('\0');
    if (nul != std::string::npos) value->resize(nul);
    if (value->size() + 1 > maxBytes) return std::string();
    return *value;
}

// Where a locked edit stopped: taking the lock, reading the file or writing it.
enum class EditFailure { None, Lock, Read, Write };

struct EditResult {
    EditFailure failure = EditFailure::None;
    int error = 0;
};

void printFailure(const EditResult& result) {
    printError(result.failure == EditFailure::Write ? "Error setting key %d\n"
                                                    : "Error opening key %d\n",
               result.error);
}

using Edit = std::function<std::optional<std::string>(const std::optional<std::string>& stored)>;

// Looks `name` up in the single file that earlier versions kept every value in. Returns 0, or
// readWholeFile's errno (ENOENT when there is no such file).
int findInOldFile(const std::string& folder, const std::string& name,
                  std::optional<std::string>& value) {
    const std::string path = folder + "/" + kIdentityFileName;
    std::string text;
    const int error = readWholeFile(AT_FDCWD, path.c_str(), text);
    value = error == 0 ? IdentityStoreFile::parse(text).find(name) : std::nullopt;
    return error;
}

// The store's folder of buckets, open, with the store's lock held while it lives.
struct LockedStore {
    std::string folder;
    FileDescriptor lock;
    FileDescriptor directory;
};

EditResult lockStore(LockedStore& store) {
    store.folder = stateFolder();
    if (store.folder.empty()) return {EditFailure::Lock, ENOENT};
    const std::string buckets = store.folder + "/" + kIdentityBucketFolderName;
    if (const int error = makePrivateFolderTree(buckets)) return {EditFailure::Lock, error};
    const std::string lockPath = store.folder + "/" + kIdentityLockName;
    store.lock = openPrivateAt(AT_FDCWD, lockPath.c_str(), O_RDWR | O_NONBLOCK);
    if (!store.lock.valid()) return {EditFailure::Lock, errno};
    if (const int error = lockExclusively(store.lock.get())) return {EditFailure::Lock, error};
    store.directory = FileDescriptor(::open(buckets.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!store.directory.valid()) return {EditFailure::Lock, errno};
    return {};
}

// Holds the store's lock from reading the value to replacing its bucket: `edit` gets the stored
// text of `name` (nothing when absent) and returns the text to store, or nothing to leave it.
// Unless `needsCurrent`, a value that only the old single file holds counts as absent, as the
// edit replaces it whatever it is. `name` must pass isStorableName.
EditResult editLocked(const std::string& name, bool needsCurrent, const Edit& edit) {
    LockedStore store;
    if (const EditResult locked = lockStore(store); locked.failure != EditFailure::None) {
        return locked;
    }
    const std::string& folder = store.folder;
    const FileDescriptor& directory = store.directory;

    const std::string bucketName = identityBucketName(name);
    std::string text;
    if (const int error = readWholeFile(directory.get(), bucketName.c_str(), text);
        error != 0 && error != ENOENT) {
        // Writing now would drop every value the unreadable bucket holds.
        return {EditFailure::Read, error};
    }
    IdentityStoreFile bucket = IdentityStoreFile::parse(text);
    std::optional<std::string> stored = bucket.find(name);
    bool fromOldFile = false;
    if (!stored && needsCurrent) {
        if (const int error = findInOldFile(folder, name, stored); error != 0 && error != ENOENT) {
            // Carrying on would take an install that has an id for a new one.
            return {EditFailure::Read, error};
        }
        fromOldFile = stored.has_value();
    }
    std::optional<std::string> next = edit(stored);
    // A value kept as it is still moves to its bucket, so that later commands find it there.
    if (!next && fromOldFile) next = stored;
    if (!next || (next == stored && !fromOldFile)) return {};
    if (!isStorableValue(*next)) {
        // A hand-edited old value that no bucket can carry stays where it is.
        if (next == stored) return {};
        return {EditFailure::Write, EINVAL};
    }
    bucket.set(name, *next);
    if (const int error = replaceBucket(directory.get(), bucketName, bucket.serialise())) {
        return {EditFailure::Write, error};
    }
    return {};
}

// Takes `name` out of its bucket under the store's lock: the bucket goes when nothing else is left
// in it. A value that the single file of earlier versions still holds would be read from there
// once its bucket is gone, so the bucket keeps it as the empty value, which reads as absent.
EditResult removeLocked(const std::string& name) {
    LockedStore store;
    if (const EditResult locked = lockStore(store); locked.failure != EditFailure::None) {
        return locked;
    }
    const std::string bucketName = identityBucketName(name);
    std::string text;
    if (const int error = readWholeFile(store.directory.get(), bucketName.c_str(), text);
        error != 0 && error != ENOENT) {
        return {EditFailure::Read, error};
    }
    IdentityStoreFile bucket = IdentityStoreFile::parse(text);
    std::optional<std::string> old;
    const int oldError = findInOldFile(store.folder, name, old);
    if (oldError != 0 && oldError != ENOENT) return {EditFailure::Read, oldError};
    const bool erased = bucket.erase(name);
    if (old) {
        bucket.set(name, std::string());
    } else if (!erased) {
        return {};
    }
    if (bucket.serialise().empty()) {
        if (::unlinkat(store.directory.get(), bucketName.c_str(), 0) != 0 && errno != ENOENT) {
            return {EditFailure::Write, errno};
        }
        return {};
    }
    if (const int error = replaceBucket(store.directory.get(), bucketName, bucket.serialise())) {
        return {EditFailure::Write, error};
    }
    return {};
}

// The bucket's value of `name`: nothing when the bucket or its line is absent, or cannot be read
// (`readable` then false).
std::optional<std::string> readBucketValue(const std::string& folder, const std::string& name,
                                           bool& readable) {
    const std::string bucket =
        folder + "/" + kIdentityBucketFolderName + "/" + identityBucketName(name);
    std::string text;
    readable = true;
    if (const int error = readWholeFile(AT_FDCWD, bucket.c_str(), text); error != 0) {
        // No folder of values (ENOTDIR: something else in its place) holds no value either.
        readable = error == ENOENT || error == ENOTDIR;
        return std::nullopt;
    }
    return IdentityStoreFile::parse(text).find(name);
}

}  // namespace

std::string readOwnIdentityValue(const std::string& name, std::size_t maxBytes) {
    if (!isStorableName(name)) return std::string();
    const std::string folder = stateFolder();
    if (folder.empty()) return std::string();
    bool readable = true;
    return boundedValue(readBucketValue(folder, name, readable), maxBytes);
}

bool removeIdentityValue(const std::string& name) {
    if (!isStorableName(name)) return true;  // no store holds such a name
    const EditResult result = removeLocked(name);
    if (result.failure == EditFailure::None) return true;
    printFailure(result);
    return false;
}

std::string readIdentityValue(const std::string& name, std::size_t maxBytes) {
    if (!isStorableName(name)) return std::string();
    const std::string folder = stateFolder();
    if (folder.empty()) return std::string();
    // No lock: writers replace a bucket by rename, so this sees one complete version of it.
    bool readable = true;
    if (std::optional<std::string> value = readBucketValue(folder, name, readable)) {
        return boundedValue(std::move(value), maxBytes);
    }
    if (!readable) return std::string();
    // Values that have not been moved yet are still in the single file of earlier versions.
    std::optional<std::string> value;
    if (findInOldFile(folder, name, value) != 0) return std::string();
    if (value) {
        // Moved now, once: a value only ever read (the install id) would otherwise cost every
        // later start a read of every game's values. A store that cannot take it yet still
        // answers from the single file, so nothing is said.
        editLocked(name, true, [](const std::optional<std::string>&) { return std::nullopt; });
    }
    return boundedValue(std::move(value), maxBytes);
}

bool writeIdentityValue(const std::string& name, const std::string& value) {
    if (!isStorableName(name) || !isStorableValue(value)) {
        printError("Error setting key %d\n", EINVAL);
        return false;
    }
    const EditResult result =
        editLocked(name, false, [&value](const std::optional<std::string>&) { return value; });
    if (result.failure == EditFailure::None) return true;
    printFailure(result);
    return false;
}

std::string updateIdentityValue(const std::string& name, std::size_t maxBytes,
                                const IdentityUpdate& update) {
    if (!isStorableName(name)) {
        std::optional<std::string> next = update(std::string());
        if (next) printError("Error setting key %d\n", EINVAL);
        return next.value_or(std::string());
    }
    std::string outcome;
    const EditResult result = editLocked(name, true, [&](const std::optional<std::string>& stored) {
        const std::string current = boundedValue(stored, maxBytes);
        std::optional<std::string> next = update(current);
        outcome = next.value_or(current);
        return next;
    });
    switch (result.failure) {
        case EditFailure::None: return outcome;
        case EditFailure::Write: printFailure(result); return outcome;
        case EditFailure::Read: {
            std::optional<std::string> next = update(std::string());
            if (next) printFailure(result);
            return next.value_or(std::string());
        }
        case EditFailure::Lock: break;
    }
    // A store that can be read but not locked (a read-only folder, say) still yields what it
    // holds; only a change is refused.
    const std::string current = readIdentityValue(name, maxBytes);
    std::optional<std::string> next = update(current);
    if (!next || *next == current) return current;
    printFailure(result);
    return *next;
}

std::string makeUuid() {
    UuidBytes bytes{};
    if (fillFromGetrandom(bytes) || fillFromUrandom(bytes)) return uuidFromRandomBytes(bytes);
    return uuidFromRandomBytes(fallbackRandomBytes(fallbackSeed()));
}

}  // namespace Platform
}  // namespace ORBA
