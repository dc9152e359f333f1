// The current user's persisted tracker identity: named text values shared by every game on the
// machine that uses the tracker. Windows keeps them in the registry, other systems in a file.
#pragma once

#include <cstddef>
#include <string>

namespace ORBA {
namespace Platform {

// The value `name`, up to its first NUL; the empty text when it is absent, empty, unreadable or
// takes more than `maxBytes` bytes (terminator included).
std::string readIdentityValue(const std::string& name, std::size_t maxBytes);

// Stores `value` under `name`, keeping every other value. On failure prints one line to standard
// output ("Error opening key %d\n" or "Error setting key %d\n" with the system error code) and
// returns false.
bool writeIdentityValue(const std::string& name, const std::string& value);

// A new random UUID: 36 lower-case hexadecimal characters in the 8-4-4-4-12 form.
std::string makeUuid();

}  // namespace Platform
}  // namespace ORBA
