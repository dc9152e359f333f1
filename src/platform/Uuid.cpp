#include "platform/Uuid.h"

#include <cstdio>

namespace ORBA {
namespace Platform {
namespace {

// splitmix64: every seed gives a well-mixed, distinct stream.
std::uint64_t nextMixed(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

std::string formatUuid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
                       const std::array<std::uint8_t, 8>& data4) {
    char text[37];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned>(data1), static_cast<unsigned>(data2),
                  static_cast<unsigned>(data3), data4[0], data4[1], data4[2], data4[3], data4[4],
                  data4[5], data4[6], data4[7]);
    return std::string(text, 36);
}

std::string uuidFromRandomBytes(const UuidBytes& bytes) {
    const std::uint32_t data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    const auto data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    const auto data3 = static_cast<std::uint16_t>((((bytes[6] & 0x0F) | 0x40) << 8) | bytes[7]);
    const std::array<std::uint8_t, 8> data4 = {
        static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80), bytes[9], bytes[10], bytes[11],
        bytes[12], bytes[13], bytes[14], bytes[15]};
    return formatUuid(data1, data2, data3, data4);
}

UuidBytes fallbackRandomBytes(std::uint64_t seed) {
    std::uint64_t state = seed;
    UuidBytes bytes{};
    for (std::size_t half = 0; half < 2; ++half) {
        const std::uint64_t word = nextMixed(state);
        for (std::size_t i = 0; i < 8; ++i) {
            bytes[half * 8 + i] = static_cast<std::uint8_t>(word >> (8 * i));
        }
    }
    return bytes;
}

}  // namespace Platform
}  // namespace ORBA
