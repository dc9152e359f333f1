#include "platform/SystemInfo.h"

#include <charconv>
#include <fstream>
#include <limits>
#include <system_error>

#include "orba/Misc.h"
#include "core/CLocale.h"

namespace ORBA {
namespace Platform {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The value of "key<blanks>:" at the start of `line`, without the one space that follows the
// colon; nothing when the line holds another key.
std::optional<std::string_view> valueOfKey(std::string_view line, std::string_view key) {
    if (line.substr(0, key.size()) != key) return std::nullopt;
    std::size_t pos = key.size();
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    if (pos == line.size() || line[pos] != ':') return std::nullopt;
    ++pos;
    if (pos < line.size() && line[pos] == ' ') ++pos;
    return line.substr(pos);
}

}  // namespace

std::string cpuTypeFromArchitecture(std::uint32_t architecture) {
    switch (architecture) {
        case 0:
            return "x86";
        case 5:
            return "arm";
        case 6:
            return "Intel Itanium - based";
        case 9:
            return "x64";
        case 12:
            return "arm64";
        default:
            return "unknown";
    }
}

std::string joinVersionNumbers(std::uint32_t first, std::uint32_t second, std::uint32_t third,
                               std::uint32_t fourth) {
    return std::to_string(first) + '.' + std::to_string(second) + '.' + std::to_string(third) +
           '.' + std::to_string(fourth);
}

std::string fileVersionText(std::uint32_t versionMs, std::uint32_t versionLs) {
    return joinVersionNumbers(versionMs >> 16, versionMs & 0xFFFFu, versionLs >> 16,
                              versionLs & 0xFFFFu);
}

std::string osVersionFromKernelRelease(std::string_view release) {
    std::uint32_t numbers[4] = {0, 0, 0, 0};
    std::size_t count = 0;
    const char* pos = release.data();
    const char* const end = release.data() + release.size();
    while (count < 4 && pos != end && Core::isCDigit(*pos)) {
        std::uint32_t number = 0;
        const auto [next, error] = std::from_chars(pos, end, number);
        if (error != std::errc()) break;  // a component beyond 32 bits is not a version number
        numbers[count++] = number;
        if (next == end || *next != '.') break;
        pos = next + 1;
    }
    if (count == 0) return std::string();
    return joinVersionNumbers(numbers[0], numbers[1], numbers[2], numbers[3]);
}

std::string cpuTypeFromMachine(std::string_view machine) {
    if (machine == "x86_64") return "x64";
    if (machine == "aarch64") return "arm64";
    if (machine == "i686" || machine == "i386") return "x86";
    return "unknown";
}

std::string cpuModelFromCpuinfo(std::istream& cpuinfo) {
    // Every processor repeats the block; the first one is enough, and a machine with hundreds of
    // cores makes the listing long, so the scan stops there.
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (const auto value = valueOfKey(line, "model name")) return std::string(*value);
    }
    return "unknown cpu";
}

std::optional<std::int64_t> memTotalFromMeminfo(std::istream& meminfo) {
    std::string line;
    while (std::getline(meminfo, line)) {
        auto value = valueOfKey(line, "MemTotal");
        if (!value) continue;
        while (!value->empty() && isBlank(value->front())) value->remove_prefix(1);
        const char* const end = value->data() + value->size();
        std::int64_t kib = 0;
        const auto [next, error] = std::from_chars(value->data(), end, kib);
        if (error != std::errc() || kib < 0) return std::nullopt;
        if (std::string_view(next, static_cast<std::size_t>(end - next)) != " kB") {
            return std::nullopt;
        }
        if (kib > std::numeric_limits<std::int64_t>::max() / 1024) return std::nullopt;
        return kib * 1024;
    }
    return std::nullopt;
}

std::string readCpuModel(const std::string& cpuinfoPath) {
    std::ifstream file(cpuinfoPath);
    return cpuModelFromCpuinfo(file);
}

std::optional<std::int64_t> readMemTotal(const std::string& meminfoPath) {
    std::ifstream file(meminfoPath);
    return memTotalFromMeminfo(file);
}

double roundedGiB(std::int64_t bytes) {
    // 2^-30 is exact in single precision. The conversions go through <charconv> because they
    // must not depend on the locale the host has set: a comma as decimal point would otherwise
    // cut the read-back at the point.
    constexpr float kGiBPerByte = 1.0f / 1073741824.0f;
    const float gib = static_cast<float>(bytes) * kGiBPerByte;
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, gib, std::chars_format::fixed, 2);
    if (written.ec != std::errc()) return 0.0;
    double result = 0.0;
    const auto read = std::from_chars(text, written.ptr, result);
    if (read.ec != std::errc()) return 0.0;
    return result;
}

namespace Misc {

std::string getOsVersion() { return queryOsVersion(); }

std::string getPlatform() { return platformLetter(); }

std::string getCpuType() { return queryCpuType(); }

std::string getCPUModel() { return queryCpuModel(); }

std::int64_t getPhysicallyInstalledSystemMemory() { return queryInstalledMemory(); }

std::string getMcc() { return std::string(); }

std::string getMnc() { return getMcc(); }

double getPhysicallyInstalledSystemMemoryGB() {
    return roundedGiB(getPhysicallyInstalledSystemMemory());
}

}  // namespace Misc

}  // namespace Platform
}  // namespace ORBA
