#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/DebugOutput.h"

namespace ORBA {
namespace Platform {

// char16_t and wchar_t are both UTF-16 code units on Windows.
void writeDebugOutputWide(const char16_t* text) {
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(text));
}

void writeDebugOutputNarrow(const char* text) { OutputDebugStringA(text); }

}  // namespace Platform
}  // namespace ORBA
