// Platform information exported for the host. Every function queries the system afresh on each
// call, keeps no state and takes no lock, so any of them may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "orba/Export.h"

#if defined(ORBA_USE_C_ABI)
#include "orba/detail/Misc_inline.h"
#else

namespace ORBA {
namespace Platform {
namespace Misc {

// --- The tracker ------------------------------------------------------------------------------

// What this process's tracker did since the library was loaded, as JSON text:
// {"apps": [{"appId", "delivery": "sync"|"background", "waiting", "waitingBytes",
// "oldestWaitingSeconds", "delivered", "retried", "dropped": {"refused", "noRoom", "intakeFull",
// "tooLarge", "notStored", "otherEndpoint", "notAllowed", "noAnswer", "erased"}, "lastStatus",
// "nextRetrySeconds"}]}, one entry per app id an InitTracker configured. The waiting counts are
// read from the outbox folder when asked (background delivery; 0 with sync delivery): unlike the
// functions below, this lists a folder, so ask now and then rather than every frame. It takes a
// lock of the library's for a moment; any thread may call it.
ORBA_API std::string getTrackerStatus();

// --- Operating system, processor and memory -------------------------------------------------

// Four decimal numbers joined by ".", for example "10.0.19045.3803". On Windows 10 and later the
// first three come from the kernel and the fourth is the update build revision (0 when the
// system does not record one); on older Windows the file version of kernel32.dll. On Linux the
// leading numbers of the kernel release, padded with 0. The empty text when nothing is readable.
ORBA_API std::string getOsVersion();

// One-letter platform code: "W" on Windows, "L" on Linux.
ORBA_API std::string getPlatform();

// Processor architecture: "x86", "arm", "Intel Itanium - based", "x64", "arm64" or "unknown".
ORBA_API std::string getCpuType();

// The processor's brand name as the system stores it, blanks included, in UTF-8. "unknown cpu"
// when the system has no processor description; the empty text when the description has no
// name. Windows: throws std::range_error("bad conversion") for a name that is not valid UTF-16.
ORBA_API std::string getCPUModel();

// Total physical memory that the operating system reports as usable, in bytes; 0 when the
// system does not answer.
ORBA_API std::int64_t getPhysicallyInstalledSystemMemory();

// The same figure in GiB (units of 2^30 bytes), computed in single precision and rounded to two
// decimals: 17088659456 bytes give 15.92.
ORBA_API double getPhysicallyInstalledSystemMemoryGB();

// Mobile-network country and network codes; always empty on a PC.
ORBA_API std::string getMcc();
ORBA_API std::string getMnc();

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA

#endif  // ORBA_USE_C_ABI

// The rest of the platform surface, one header per concern.
#include "orba/misc/DeviceIdentity.h"
#include "orba/misc/NetworkProcess.h"
#include "orba/misc/WindowMessaging.h"
