// The operating-system, processor and memory functions of orba/Misc.h: what each OS back end
// reads, and the portable interpretation of what was read.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

namespace ORBA {
namespace Platform {

// --- Implemented once per OS -------------------------------------------------------------------

// The running system's version as "a.b.c.d"; empty when it cannot be read.
std::string queryOsVersion();

// "W" on Windows, "L" on Linux.
std::string platformLetter();

// The machine's processor architecture as cpuTypeFromArchitecture or cpuTypeFromMachine name it.
std::string queryCpuType();

// The processor's brand name in UTF-8, blanks kept; "unknown cpu" when there is none.
std::string queryCpuModel();

// Bytes of physical memory; 0 when unknown.
std::int64_t queryInstalledMemory();

// --- Windows ----------------------------------------------------------------------------------

// Name of a wProcessorArchitecture value: 0 "x86", 5 "arm", 6 "Intel Itanium - based", 9 "x64",
// 12 "arm64", anything else "unknown".
std::string cpuTypeFromArchitecture(std::uint32_t architecture);

// The four numbers in decimal joined by ".".
std::string joinVersionNumbers(std::uint32_t first, std::uint32_t second, std::uint32_t third,
                               std::uint32_t fourth);

// A VS_FIXEDFILEINFO file version (dwFileVersionMS, dwFileVersionLS) as "a.b.c.d", high words
// first.
std::string fileVersionText(std::uint32_t versionMs, std::uint32_t versionLs);

// --- Linux ------------------------------------------------------------------------------------

// The leading numbers of a kernel release ("6.1.0-13-amd64" gives "6.1.0.0"): up to four
// components separated by ".", ending at the first that is not all digits or does not fit 32
// bits, padded with 0 to four. The empty text when the release does not start with a number.
std::string osVersionFromKernelRelease(std::string_view release);

// x86_64 "x64", aarch64 "arm64", i686 and i386 "x86", anything else "unknown".
std::string cpuTypeFromMachine(std::string_view machine);

// Text of the first "model name" line of a /proc/cpuinfo listing, after its ": ", unchanged to
// the end of the line (blanks kept); "unknown cpu" when no line names a model.
std::string cpuModelFromCpuinfo(std::istream& cpuinfo);

// Bytes of the "MemTotal:" line of a /proc/meminfo listing (a count of kB); nothing when the
// line is missing, malformed or too large for a signed 64-bit byte count.
std::optional<std::int64_t> memTotalFromMeminfo(std::istream& meminfo);

// The two above, read from a file; a file that does not open counts as one without the line.
std::string readCpuModel(const std::string& cpuinfoPath);
std::optional<std::int64_t> readMemTotal(const std::string& meminfoPath);

// --- Both -------------------------------------------------------------------------------------

// Bytes as GiB: multiplied by 2^-30 in single precision, written with two decimals and a point,
// and read back as the double nearest that text. 17088659456 gives 15.92, 17179869184 16.0.
double roundedGiB(std::int64_t bytes);

}  // namespace Platform
}  // namespace ORBA
