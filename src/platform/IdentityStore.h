// The current user's persisted tracker identity: named text values shared by every game on the
// machine that uses the tracker. Windows keeps them in the registry, other systems in a file.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace ORBA {
namespace Platform {

// The value `name`, up to its first NUL; the empty text when it is absent, empty, unreadable or
// takes more than `maxBytes` bytes (terminator included).
std::string readIdentityValue(const std::string& name, std::size_t maxBytes);

// The value `name` as readIdentityValue gives it, for values no earlier version kept: the places
// those versions wrote to are not looked in, so a value that is absent costs one lookup.
std::string readOwnIdentityValue(const std::string& name, std::size_t maxBytes);

// Removes the value `name`, from the places earlier versions kept it too, under the lock that
// updates take, so that the next read finds nothing. True when no value is left; on failure prints
// the error line that writeIdentityValue would and returns false.
bool removeIdentityValue(const std::string& name);

// Stores `value` under `name`, keeping every other value. On failure prints one line to standard
// output ("Error opening key %d\n" or "Error setting key %d\n" with the system error code) and
// returns false.
bool writeIdentityValue(const std::string& name, const std::string& value);

// What an update makes of the value it read: the text to store, or nothing to keep it as it is.
using IdentityUpdate = std::function<std::optional<std::string>(const std::string& current)>;

// Reads `name` as readIdentityValue does and stores what `update` makes of it, holding the store's
// lock from the read to the write, so that other processes and threads updating the same value
// wait instead of overwriting each other's result. `update` runs exactly once. Returns the value
// stored afterwards. When the store cannot be locked, read or written, prints the error line that
// writeIdentityValue would and returns what `update` made of the value that could be read (the
// empty text when none), so that the caller can carry on without a stored value.
std::string updateIdentityValue(const std::string& name, std::size_t maxBytes,
                                const IdentityUpdate& update);

// A new random UUID: 36 lower-case hexadecimal characters in the 8-4-4-4-12 form.
std::string makeUuid();

}  // namespace Platform
}  // namespace ORBA
