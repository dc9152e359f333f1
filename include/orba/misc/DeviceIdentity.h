// Who and where the player's machine is: computer model, graphics adapters, computer and user
// names, preferred language, home country and the advertising identifier.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orba/Export.h"
#include "orba/misc/HresultError.h"

#if defined(ORBA_USE_C_ABI)
#include "orba/detail/DeviceIdentity_inline.h"
#else

namespace ORBA {
namespace Platform {
namespace Misc {

// Returns the computer's model ("Model" of Win32_ComputerSystem on Windows, the DMI product name
// on Linux), or the empty text. In the system's ANSI code page on Windows. The first non-empty
// answer is kept for the life of the process; an empty one is asked again on the next call.
// On a Windows thread of a single-threaded apartment nothing is queried and the kept value (empty
// in a fresh process) comes back. Raises no exception of its own.
ORBA_API std::string getDeviceModel();

// Returns the names of the graphics adapters in the system's enumeration order, possibly none.
// In the ANSI code page on Windows. The first non-empty list is kept for the life of the process.
// Safe to call from several threads at once.
ORBA_API std::vector<std::string> getGPUModelList();

// Returns the computer's DNS host name in UTF-8, or the empty text when the system cannot tell.
// Throws std::range_error("bad conversion") when the name is not well-formed.
ORBA_API std::string getDeviceName();

// Returns the name of the user the calling thread runs as, in UTF-8, or the empty text when the
// system cannot tell. Throws std::range_error("bad conversion") when the name is not well-formed.
ORBA_API std::string getUserName();

// Returns the language tag of the user's first preferred language in its normalised form
// ("en-US"). On Windows a failure of the Windows Runtime throws an hresult_error (orba/misc/HresultError.h); on Linux
// the tag comes from LC_ALL, LC_MESSAGES or LANG, and the C locale gives "en-US".
ORBA_API std::string getLanguage();

// Returns the two-letter code of the user's home region ("US"). On Windows a failure of the
// Windows Runtime throws an hresult_error; on Linux the territory of the locale, or the empty text.
ORBA_API std::string getCountry();

// Returns the user's advertising identifier, or the empty text when the user has switched it
// off (and always on Linux, which has none). On Windows a failure of the Windows Runtime throws
// an hresult_error.
ORBA_API std::string getAdvertisingId();

// Returns true exactly when getAdvertisingId would return the empty text. Throws as it does.
ORBA_API bool getIsLimitAdTracking();


}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA

#endif  // ORBA_USE_C_ABI
