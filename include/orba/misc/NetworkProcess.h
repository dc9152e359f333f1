// Local network, process and executable-version queries exported for the host.
#pragma once

#include <cstdint>
#include <string>

#include "orba/Export.h"

#if defined(ORBA_USE_C_ABI)
#include "orba/detail/NetworkProcess_inline.h"
#else

namespace ORBA {
namespace Platform {
namespace Misc {

// Returns, in plain decimal, the first port at or above `start` that no IPv4 TCP socket on the
// machine uses as its local port, whatever its state. Prints "\tNumber of entries: N\n" to
// standard output. Throws std::runtime_error "Error allocating memory\n" or
// "\tGetTcpTable failed with <code>\n" when the table cannot be read, and "not found usable port"
// when every port from `start` to 65535 is taken. Nothing is reserved: another process may take
// the port before the caller binds it.
ORBA_API std::string getAvailableTCPPort(std::uint16_t start);

// Returns the id of the first running process whose executable file name (with extension,
// without directory) equals `executableName` with ASCII letter case ignored, or 0 when none does.
// Throws std::range_error("bad conversion") when `executableName` is not well-formed UTF-8.
ORBA_API long getProcessorID(const std::string& executableName);

// Returns the product version of the process's executable as "a.b.c.d", or the empty text when
// it carries no readable version resource (always on Linux).
ORBA_API std::string getAppVersion();

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA

#endif  // ORBA_USE_C_ABI
