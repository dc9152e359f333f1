// Run-time loading of optional libraries that a game ships beside its executable.
#pragma once

#include <string>

namespace ORBA {
namespace Platform {

// Loads the library `fileName`, a bare file name, the way a game ships it: the copy the process
// has already loaded, else the one in the executable's folder, else the one in this library's own
// folder. Nothing else is searched (not the current directory, nor PATH or LD_LIBRARY_PATH):
// a library of the same name planted there would run its code inside the game. nullptr when it
// cannot be loaded or `fileName` names a folder too. The library stays loaded for the life of the
// process.
void* loadGameLibrary(const std::string& fileName);

// The address of an exported function, or nullptr.
void* findLibraryFunction(void* library, const char* name);

}  // namespace Platform
}  // namespace ORBA
