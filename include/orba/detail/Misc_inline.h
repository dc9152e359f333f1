// Operating-system, processor and memory information compiled in the host over the C
// interface; see orba/Misc.h for the contracts.
#pragma once

#include <cstdint>
#include <string>

#include "orba/detail/CAbi.h"

namespace ORBA {
namespace Platform {
namespace Misc {
// A namespace of its own keeps these apart from the library's C++ symbols of the same names.
inline namespace CAbi {

inline std::string getOsVersion() { return ORBA::detail::takeText(orba_get_os_version()); }
inline std::string getTrackerStatus() { return ORBA::detail::takeText(orba_tracker_status()); }
inline std::string getPlatform() { return ORBA::detail::takeText(orba_get_platform()); }
inline std::string getCpuType() { return ORBA::detail::takeText(orba_get_cpu_type()); }
inline std::string getCPUModel() { return ORBA::detail::takeText(orba_get_cpu_model()); }

inline std::int64_t getPhysicallyInstalledSystemMemory() {
    return ORBA::detail::checked(orba_get_physically_installed_system_memory());
}

inline double getPhysicallyInstalledSystemMemoryGB() {
    return ORBA::detail::checked(orba_get_physically_installed_system_memory_gb());
}

inline std::string getMcc() { return ORBA::detail::takeText(orba_get_mcc()); }
inline std::string getMnc() { return ORBA::detail::takeText(orba_get_mnc()); }

}  // namespace CAbi
}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
