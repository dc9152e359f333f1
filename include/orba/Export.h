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

// A host built with another compiler or standard library than the library's cannot share its
// std::string: it compiles the C++ API itself, over the C interface (orba/orba.h).
#if defined(_MSC_VER) && !defined(ORBA_USE_C_ABI)
#  define ORBA_USE_C_ABI
#endif
#if defined(ORBA_USE_C_ABI) && defined(ORBA_BUILDING_LIBRARY)
#  error "ORBA_USE_C_ABI is for hosts; the library itself defines the C++ functions"
#endif
