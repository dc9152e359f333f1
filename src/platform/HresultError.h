// Turns a failed HRESULT into the exception a host catches: hresult_error or the subclass that
// names the code.
#pragma once

#include <cstdint>
#include <string>

namespace ORBA {
namespace Platform {

constexpr std::int32_t kCoENotInitialized = static_cast<std::int32_t>(0x800401F0);
constexpr std::int32_t kClassNotRegistered = static_cast<std::int32_t>(0x80040154);
constexpr std::int32_t kOutOfBounds = static_cast<std::int32_t>(0x8000000B);

// Throws the exception for `code` carrying `message` (UTF-8). An empty message is replaced by
// "HRESULT 0x%08X" so that what() always says something.
[[noreturn]] void throwHresultError(std::int32_t code, std::string message);

}  // namespace Platform
}  // namespace ORBA
