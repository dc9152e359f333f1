// Network, process and executable-version queries compiled in the host over the C interface;
// see orba/misc/NetworkProcess.h for the contracts.
#pragma once

#include <cstdint>
#include <string>

#include "orba/detail/CAbi.h"

namespace ORBA {
namespace Platform {
namespace Misc {
// A namespace of its own keeps these apart from the library's C++ symbols of the same names.
inline namespace CAbi {

inline std::string getAvailableTCPPort(std::uint16_t start) {
    return ORBA::detail::takeText(orba_get_available_tcp_port(start));
}

inline long getProcessorID(const std::string& executableName) {
    return static_cast<long>(ORBA::detail::checked(orba_get_processor_id(executableName.c_str())));
}

inline std::string getAppVersion() { return ORBA::detail::takeText(orba_get_app_version()); }

}  // namespace CAbi
}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
