#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "SharedLibrary.h"

namespace OrbaTools {

SharedLibrary::SharedLibrary(const std::string& path) : handle_(LoadLibraryA(path.c_str())) {
    if (handle_ == nullptr) error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
}

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::symbol(const std::string& name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
}

std::string executableFolder() {
    char self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self, length);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder;
}

std::string trackerLibraryFileName() { return "OrbaTracker.dll"; }

}  // namespace OrbaTools
