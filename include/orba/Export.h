// Export macro for the library's public surface.
#pragma once

#if defined(_WIN32)
#  if defined(ORBA_BUILDING_LIBRARY)
#    define ORBA_API __declspec(dllexport)
#  else
#    define ORBA_API __declspec(dllimport)
#  endif
#else
#  define ORBA_API __attribute__((visibility("default")))
#endif
