// The textual form of UUIDs, shared by every way the library obtains one.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ORBA {
namespace Platform {

using UuidBytes = std::array<std::uint8_t, 16>;

// Formats a GUID given as its fields: the 32-bit field, the two 16-bit fields, then the eight
// bytes of the last field. Returns 36 lower-case hexadecimal characters in the 8-4-4-4-12 form.
std::string formatUuid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
                       const std::array<std::uint8_t, 8>& data4);

// Turns 16 random bytes into a version-4 (random) UUID text: the bytes in order, with the four
// version bits set to 0100 and the two variant bits to 10 as RFC 4122 requires.
std::string uuidFromRandomBytes(const UuidBytes& bytes);

// 16 bytes from a generator seeded with `seed`, for use only when the system's random source has
// failed: good enough that two installs rarely collide, never fit for secrets.
UuidBytes fallbackRandomBytes(std::uint64_t seed);

}  // namespace Platform
}  // namespace ORBA
