#include "platform/SystemInfo.h"

#include <algorithm>
#include <clocale>
#include <locale>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "orba/Misc.h"

namespace ORBA {
namespace Platform {
namespace {

const std::string kFixtures = ORBA_FIXTURE_DIR "/";

std::string cpuModelOf(const std::string& cpuinfo) {
    std::istringstream in(cpuinfo);
    return cpuModelFromCpuinfo(in);
}

std::optional<std::int64_t> memTotalOf(const std::string& meminfo) {
    std::istringstream in(meminfo);
    return memTotalFromMeminfo(in);
}

// A decimal comma, as a German host would set it.
struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

TEST(SystemInfoTest, NamesWindowsArchitectures) {
    EXPECT_EQ(cpuTypeFromArchitecture(0), "x86");
    EXPECT_EQ(cpuTypeFromArchitecture(5), "arm");
    EXPECT_EQ(cpuTypeFromArchitecture(6), "Intel Itanium - based");
    EXPECT_EQ(cpuTypeFromArchitecture(9), "x64");
    EXPECT_EQ(cpuTypeFromArchitecture(12), "arm64");
    EXPECT_EQ(cpuTypeFromArchitecture(1), "unknown");
    EXPECT_EQ(cpuTypeFromArchitecture(14), "unknown");
}

TEST(SystemInfoTest, WritesVersionNumbers) {
    EXPECT_EQ(joinVersionNumbers(4294967295u, 0, 19045, 3803), "4294967295.0.19045.3803");
    // kernel32.dll of Windows 7 SP1: 6.1.7601.24545.
    EXPECT_EQ(fileVersionText(0x00060001, 0x1DB15FE1), "6.1.7601.24545");
    EXPECT_EQ(fileVersionText(0xFFFFFFFF, 0x0000FFFF), "65535.65535.0.65535");
}

TEST(SystemInfoTest, RoundsMemoryToHundredthsOfGiB) {
    EXPECT_EQ(roundedGiB(17088659456), 15.92);
    EXPECT_EQ(roundedGiB(17179869184), 16.0);
    EXPECT_EQ(roundedGiB(8589934592), 8.0);
    EXPECT_EQ(roundedGiB(16951296000), 15.79);
    EXPECT_EQ(roundedGiB(0), 0.0);
    EXPECT_EQ(roundedGiB(5368710), 0.01);  // 0.00500000 GiB, just above the half
    EXPECT_EQ(roundedGiB(5368709), 0.0);   // 0.00499999, just below
    // Exact halves round to the even hundredth on every target alike.
    EXPECT_EQ(roundedGiB(134217728), 0.12);     // 0.125
    EXPECT_EQ(roundedGiB(17314086912), 16.12);  // 16.125
    // Single precision keeps 24 bits: 2^40 - 1 bytes reads as exactly 1024 GiB.
    EXPECT_EQ(roundedGiB(1099511627775), 1024.0);
}

TEST(SystemInfoTest, MemoryInGiBIgnoresTheHostsLocale) {
    const std::locale savedGlobal =
        std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
    const std::string savedNumeric = std::setlocale(LC_NUMERIC, nullptr);
    const bool commaLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr ||
                             std::setlocale(LC_NUMERIC, "German_Germany.1252") != nullptr;
    const double gib = roundedGiB(17088659456);
    std::setlocale(LC_NUMERIC, savedNumeric.c_str());
    std::locale::global(savedGlobal);
    EXPECT_EQ(gib, 15.92) << (commaLocale ? "C locale with decimal comma" : "C++ locale only");
}

TEST(SystemInfoTest, TakesTheLeadingNumbersOfAKernelRelease) {
    EXPECT_EQ(osVersionFromKernelRelease("6.1.0-13-amd64"), "6.1.0.0");
    EXPECT_EQ(osVersionFromKernelRelease("6.18.44-fc-v1300"), "6.18.44.0");
    EXPECT_EQ(osVersionFromKernelRelease("5.15.153.1-microsoft-standard-WSL2"), "5.15.153.1");
    EXPECT_EQ(osVersionFromKernelRelease("4.4.0.1.2"), "4.4.0.1");
    EXPECT_EQ(osVersionFromKernelRelease("6"), "6.0.0.0");
    EXPECT_EQ(osVersionFromKernelRelease("6..1"), "6.0.0.0");
    EXPECT_EQ(osVersionFromKernelRelease("6.1rc2.7"), "6.1.0.0");
    EXPECT_EQ(osVersionFromKernelRelease("6.99999999999"), "6.0.0.0");
    EXPECT_EQ(osVersionFromKernelRelease("4294967295.0"), "4294967295.0.0.0");
    EXPECT_EQ(osVersionFromKernelRelease("4294967296.0"), "");
    EXPECT_EQ(osVersionFromKernelRelease(""), "");
    EXPECT_EQ(osVersionFromKernelRelease("-1.2"), "");
}

TEST(SystemInfoTest, NamesLinuxMachines) {
    EXPECT_EQ(cpuTypeFromMachine("x86_64"), "x64");
    EXPECT_EQ(cpuTypeFromMachine("aarch64"), "arm64");
    EXPECT_EQ(cpuTypeFromMachine("i686"), "x86");
    EXPECT_EQ(cpuTypeFromMachine("i386"), "x86");
    EXPECT_EQ(cpuTypeFromMachine("armv7l"), "unknown");
    EXPECT_EQ(cpuTypeFromMachine("X86_64"), "unknown");
}

TEST(SystemInfoTest, ReadsTheFirstModelNameOfCpuinfo) {
    EXPECT_EQ(readCpuModel(kFixtures + "cpuinfo-x86_64.txt"), "AMD EPYC");
    // arm64 kernels list implementer and part numbers but no model name.
    EXPECT_EQ(readCpuModel(kFixtures + "cpuinfo-aarch64.txt"), "unknown cpu");
    EXPECT_EQ(readCpuModel(kFixtures + "no-such-file.txt"), "unknown cpu");

    EXPECT_EQ(cpuModelOf("model\t\t: 17\nmodel name\t: First CPU\n\nmodel name\t: Second CPU\n"),
              "First CPU");
    EXPECT_EQ(cpuModelOf("model name\t:   Intel(R) Xeon(R) CPU  \t\n"),
              "  Intel(R) Xeon(R) CPU  \t");
    EXPECT_EQ(cpuModelOf("model name: No tab"), "No tab");
    EXPECT_EQ(cpuModelOf("model name\t:\n"), "");
    EXPECT_EQ(cpuModelOf("model names\t: Other key\nmodel name x: Other key\n"), "unknown cpu");
}

TEST(SystemInfoTest, ReadsMemTotalOfMeminfoInBytes) {
    EXPECT_EQ(readMemTotal(kFixtures + "meminfo-x86_64.txt"), 24683772LL * 1024);
    EXPECT_EQ(readMemTotal(kFixtures + "no-such-file.txt"), std::nullopt);

    EXPECT_EQ(memTotalOf("MemFree: 5 kB\nMemTotal:        1 kB\n"), 1024);
    EXPECT_EQ(memTotalOf("MemTotal: 9007199254740991 kB\n"), 9223372036854774784LL);
    EXPECT_EQ(memTotalOf("MemTotal: 9007199254740992 kB\n"), std::nullopt);  // 2^63 bytes
    EXPECT_EQ(memTotalOf("MemTotal: 16 MB\n"), std::nullopt);
    EXPECT_EQ(memTotalOf("MemTotal: -16 kB\n"), std::nullopt);
    EXPECT_EQ(memTotalOf("MemFree: 5 kB\n"), std::nullopt);
}

TEST(SystemInfoTest, ExportedFunctionsDescribeThisMachine) {
#ifdef _WIN32
    EXPECT_EQ(Misc::getPlatform(), "W");
#else
    EXPECT_EQ(Misc::getPlatform(), "L");
#endif
    EXPECT_EQ(Misc::getMcc(), "");
    EXPECT_EQ(Misc::getMnc(), "");
    EXPECT_EQ(Misc::getCpuType(), "x64");  // both targets are x86-64 builds
    const std::string version = Misc::getOsVersion();
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
    EXPECT_NE(version.front(), '.') << version;
    EXPECT_NE(Misc::getCPUModel(), "unknown cpu");
    const std::int64_t bytes = Misc::getPhysicallyInstalledSystemMemory();
    EXPECT_GT(bytes, 0);
    EXPECT_EQ(Misc::getPhysicallyInstalledSystemMemoryGB(), roundedGiB(bytes));
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
