// Run-time loading of optional libraries that a game ships beside its executable.
#pragma once

#include <string>

namespace ORBA {
namespace Platform {

// Loads `fileName` the way the platform's loader finds a library shipped with the game (the
// executable's folder included); nullptr when it cannot be loaded. The library stays loaded for
// the life of the process.
void* loadGameLibrary(const std::string& fileName);

// The address of an exported function, or nullptr.
void* findLibraryFunction(void* library, const char* name);

}  // namespace Platform
}  // namespace ORBA
