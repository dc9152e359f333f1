#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/DynamicLibrary.h"

#include "core/Utf.h"

namespace ORBA {
namespace Platform {
namespace {

// The longest path the system hands out, in UTF-16 units.
constexpr DWORD kLongestPath = 32768;

// The folder of `module` (the executable for nullptr), with its final separator; empty when
// unknown.
std::wstring moduleFolder(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        // A full buffer means the name was cut short.
        if (path.size() >= kLongestPath) return {};
        path.resize(path.size() * 2);
    }
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return {};
    return path.erase(separator + 1);
}

HMODULE ownModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ownModule), &module);
    return module;
}

HMODULE loadFromPath(const std::wstring& path) {
    // The library's own imports come from its folder and the system's, not the current
    // directory or PATH either.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                        LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    // Systems without these flags refuse them as an invalid parameter.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

}  // namespace

void* loadGameLibrary(const std::string& fileName) {
    if (fileName.empty() || fileName.find_first_of("\\/:") != std::string::npos) return nullptr;
    std::wstring name;
    try {
        const std::u16string wide = Core::utf8ToUtf16(fileName);
        name.assign(wide.begin(), wide.end());
    } catch (...) {
        return nullptr;
    }
    // A copy the game imported or loaded itself: looked up among loaded modules only.
    HMODULE module = nullptr;
    if (GetModuleHandleExW(0, name.c_str(), &module)) return module;
    const std::wstring folders[] = {moduleFolder(nullptr), moduleFolder(ownModule())};
    for (const std::wstring& folder : folders) {
        if (folder.empty()) continue;
        if ((module = loadFromPath(folder + name)) != nullptr) return module;
    }
    return nullptr;
}

void* findLibraryFunction(void* library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace Platform
}  // namespace ORBA
