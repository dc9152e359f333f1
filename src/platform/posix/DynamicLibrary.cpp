#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace ORBA {
namespace Platform {

void* loadGameLibrary(const std::string& fileName) {
    if (void* library = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
    if (fileName.find('/') != std::string::npos) return nullptr;
    // Games on Linux ship their libraries beside the executable, which the search above covers
    // only when the executable's run path names its own folder.
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return nullptr;
    std::string path(self, static_cast<std::size_t>(length));
    path.erase(path.find_last_of('/') + 1);
    return ::dlopen((path + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findLibraryFunction(void* library, const char* name) {
    return library != nullptr ? ::dlsym(library, name) : nullptr;
}

}  // namespace Platform
}  // namespace ORBA
