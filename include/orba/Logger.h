// The library's switchable diagnostic channel. Lines go to the debugger output on Windows and to
// standard error elsewhere, with no prefix, time stamp or level, or to a callback of the host's.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "orba/Export.h"

#if defined(ORBA_USE_C_ABI)
#include "orba/detail/Logger_inline.h"
#else

namespace ORBA {
namespace Core {
namespace Logger {

// Writes `text` as one line while core logging is switched on; otherwise does nothing.
ORBA_API void Log(const std::string& text);

// Writes `text` as one line when `force` is true or core logging is switched on. Only the first
// 1024 bytes are written, cut back to the start of a UTF-8 character. Text that is not
// well-formed UTF-8 is written as raw bytes followed by the conversion error. Never throws.
ORBA_API void Log(const std::string& text, bool force);

// Sends every line to `callback` instead of the debugger output or standard error, from now on;
// an empty function restores the default. The callback runs on the thread that logs (the host's,
// or one of the library's own: see orba_set_log_callback in orba.h), with no lock of the
// library's held, so it may call back into the library. An exception it throws is caught.
ORBA_API void setLogCallback(std::function<void(const std::string& line)> callback);

class ORBA_API LogSetting {
public:
    // The core-log switch; false when the library is loaded. Any thread may read or set it.
    static bool getUseOrbaCoreLog();
    static void setUseOrbaCoreLog(bool use);

private:
    static std::atomic<bool> useOrbaCoreLog;
};

}  // namespace Logger
}  // namespace Core
}  // namespace ORBA

#endif  // ORBA_USE_C_ABI
