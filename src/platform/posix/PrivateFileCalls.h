// The calls under PrivateFiles.h, for Linux code that works on open descriptors and reports the
// system's error codes (the identity store prints them). Each returns 0 or an errno.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/posix/FileDescriptor.h"

namespace ORBA {
namespace Platform {

inline constexpr unsigned kPrivateFileMode = 0600;
inline constexpr unsigned kPrivateFolderMode = 0700;

// Reads the open file `fd` whole into `bytes`. EISDIR for a folder, EINVAL for anything else that
// is not a regular file, EFBIG past `maxBytes` (also when it grows past it while read).
int readOpenFile(int fd, std::size_t maxBytes, std::string& bytes);

// readOpenFile of the file at `path` (relative to the folder `at`, or AT_FDCWD). A link is not
// followed (ELOOP) and a FIFO not waited for.
int readFileAt(int at, const char* path, std::size_t maxBytes, std::string& bytes);

int writeAll(int fd, std::string_view bytes);

// Opens `path` (relative to `at`) with `flags` plus O_CREAT, without following a link, and leaves
// it readable and writable by the user alone, whatever the umask and whatever mode an existing
// file had. An invalid descriptor on failure, with errno set.
FileDescriptor openPrivateAt(int at, const char* path, int flags);

// Puts `bytes` in place of the file `name` in the open folder `folder`, through the temporary
// `temporary`, which goes whatever it is (only a writer that died leaves one). The bytes reach the
// disk before the rename, so a crash leaves either the old file or the complete new one.
int replacePrivateFileAt(int folder, const char* temporary, const char* name,
                         std::string_view bytes);

// makePrivateFolders, with the reason when the folder does not exist afterwards.
int makePrivateFolderTree(const std::string& path);

}  // namespace Platform
}  // namespace ORBA
