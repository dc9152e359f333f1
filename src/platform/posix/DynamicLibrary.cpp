#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace ORBA {
namespace Platform {
namespace {

// The folder of the running program, with its final '/'; empty when unknown.
std::string executableFolder() {
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return {};
    std::string path(self, static_cast<std::size_t>(length));
    return path.erase(path.find_last_of('/') + 1);
}

// The folder of the module holding this code, with its final '/'; empty when unknown. A relative
// name is left out: it was relative to a working directory that may have changed since.
std::string ownFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::string path(info.dli_fname);
    if (path.empty() || path[0] != '/') return {};
    return path.erase(path.find_last_of('/') + 1);
}

}  // namespace

void* loadGameLibrary(const std::string& fileName) {
    if (fileName.empty() || fileName.find('/') != std::string::npos) return nullptr;
    // A copy the game linked or loaded itself (matched by name, nothing new is mapped).
    if (void* library = ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
        return library;
    }
    const std::string folders[] = {executableFolder(), ownFolder()};
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        if (void* library = ::dlopen((folder + fileName).c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return library;
        }
    }
    return nullptr;
}

void* findLibraryFunction(void* library, const char* name) {
    return library != nullptr ? ::dlsym(library, name) : nullptr;
}

}  // namespace Platform
}  // namespace ORBA
