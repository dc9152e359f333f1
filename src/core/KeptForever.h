// Process-wide objects that are never destroyed: a host's thread may still be inside a command
// while the process exits, after the exit handlers would have destroyed them. A leak checker is
// told they are kept on purpose, also once a host has unloaded the library that points to them.
#pragma once

#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define ORBA_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBA_LEAK_CHECKED 1
#endif
#endif

#ifdef ORBA_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace ORBA {
namespace Core {

template <typename T, typename... Arguments>
T& keptForever(Arguments&&... arguments) {
    T* const object = new T(std::forward<Arguments>(arguments)...);
#ifdef ORBA_LEAK_CHECKED
    __lsan_ignore_object(object);
#endif
    return *object;
}

}  // namespace Core
}  // namespace ORBA
