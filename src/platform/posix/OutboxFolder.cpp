#include "platform/OutboxFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/FileDescriptor.h"
#include "platform/posix/StateFolder.h"

namespace ORBA {
namespace Platform {

std::string outboxFolder() {
    const std::string folder = stateFolder();
    return folder.empty() ? folder : folder + "/outbox";
}

bool makePrivateFolders(const std::string& path) {
    return !path.empty() && makeStateFolders(path) == 0;
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
