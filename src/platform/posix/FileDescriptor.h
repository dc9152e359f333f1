// An owned POSIX file descriptor.
#pragma once

#include <unistd.h>

#include "platform/UniqueHandle.h"

namespace ORBA {
namespace Platform {

struct FileDescriptorTraits {
    using Handle = int;
    static int invalid() noexcept { return -1; }
    static int close(int fd) noexcept { return ::close(fd); }
};

using FileDescriptor = UniqueHandle<FileDescriptorTraits>;

}  // namespace Platform
}  // namespace ORBA
