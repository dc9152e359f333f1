#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/DynamicLibrary.h"

#include "core/Utf.h"

namespace ORBA {
namespace Platform {

void* loadGameLibrary(const std::string& fileName) {
    std::u16string wide;
    try {
        wide = Core::utf8ToUtf16(fileName);
    } catch (...) {
        return nullptr;
    }
    // The standard search order starts with the executable's folder.
    return LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
}

void* findLibraryFunction(void* library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace Platform
}  // namespace ORBA
