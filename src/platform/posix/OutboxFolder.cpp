#include "platform/OutboxFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/IdentityStoreFile.h"
#include "platform/posix/FileDescriptor.h"

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

}  // namespace

std::string outboxFolder() {
    const std::string home = homeFolder();
    const std::string folder = identityFolder(std::getenv("XDG_STATE_HOME"), home.c_str());
    return folder.empty() ? folder : folder + "/outbox";
}

bool makePrivateFolders(const std::string& path) {
    if (path.empty()) return false;
    // Stored requests carry device ids and signatures: no other user may list or read them.
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            // Some file systems refuse even to try before noticing the folder is there.
            struct stat info {};
            if (::stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
        }
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct FileClaim::Handle {
    FileDescriptor file;
};

FileClaim::FileClaim() : handle_(std::make_unique<Handle>()) {}

FileClaim::~FileClaim() = default;

bool FileClaim::tryClaim(const std::string& path) {
    if (handle_->file.valid()) return true;
    // flock belongs to the open file description: another open of the same file, in this process
    // or any other, is refused until this one is closed, which the kernel does for a dead process.
    FileDescriptor file(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!file.valid()) return false;
    while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return false;
    }
    handle_->file.reset(file.release());
    return true;
}

}  // namespace Platform
}  // namespace ORBA
