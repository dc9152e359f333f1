// The calls under PrivateFiles.h for the other Windows files that open files themselves.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/PrivateFiles.h"
#include "platform/win32/Win32Handles.h"

namespace ORBA {
namespace Platform {

// The UTF-16 form of a UTF-8 path; nothing for a text that is not UTF-8.
std::optional<std::wstring> widePath(const std::string& utf8);

// Reads the open file `file` whole into `bytes` when it is a disk file of at most `maxBytes`.
FileRead readOpenFile(HANDLE file, std::size_t maxBytes, std::string& bytes);

}  // namespace Platform
}  // namespace ORBA
