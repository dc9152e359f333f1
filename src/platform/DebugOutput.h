// The debug-output stream: the debugger output on Windows, standard error elsewhere.
#pragma once

namespace ORBA {
namespace Platform {

// Writes a NUL-terminated UTF-16 text, up to its NUL, as one debug-output message.
void writeDebugOutputWide(const char16_t* text);

// Writes a NUL-terminated byte text, up to its NUL, as one debug-output message.
void writeDebugOutputNarrow(const char* text);

}  // namespace Platform
}  // namespace ORBA
