#include "platform/SystemInfo.h"

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstdint>
#include <limits>


namespace ORBA {
namespace Platform {

std::string queryOsVersion() {
    struct utsname names {};
    if (::uname(&names) != 0) return std::string();
    return osVersionFromKernelRelease(names.release);
}

std::string platformLetter() { return "L"; }

std::string queryCpuType() {
    struct utsname names {};
    if (::uname(&names) != 0) return "unknown";
    return cpuTypeFromMachine(names.machine);
}

std::string queryCpuModel() { return readCpuModel("/proc/cpuinfo"); }

std::int64_t queryInstalledMemory() {
    if (const auto total = readMemTotal("/proc/meminfo")) return *total;
    // Without /proc (a restricted container) the kernel still answers sysinfo.
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return 0;
    const unsigned long long unit = info.mem_unit == 0 ? 1 : info.mem_unit;
    const unsigned long long limit =
        static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
    if (info.totalram > limit / unit) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(info.totalram * unit);
}

}  // namespace Platform
}  // namespace ORBA
