#include "SharedLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace OrbaTools {

SharedLibrary::SharedLibrary(const std::string& path)
    : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
        const char* message = ::dlerror();
        error_ = message != nullptr ? message : "dlopen failed";
    }
}

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

void* SharedLibrary::symbol(const std::string& name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name.c_str()) : nullptr;
}

std::string executableFolder() {
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    folder.erase(folder.find_last_of('/') + 1);
    return folder;
}

std::string trackerLibraryFileName() { return "libOrbaTracker.so"; }

}  // namespace OrbaTools
