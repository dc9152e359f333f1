// The diagnostic log compiled in the host over the C interface; see orba/Logger.h for the
// contracts.
#pragma once

#include <string>

#include "orba/orba.h"

namespace ORBA {
namespace Core {
namespace Logger {
// A namespace of its own keeps these apart from the library's C++ symbols of the same names.
inline namespace CAbi {

inline void Log(const std::string& text) { orba_log(text.c_str(), 0); }

inline void Log(const std::string& text, bool force) { orba_log(text.c_str(), force ? 1 : 0); }

class LogSetting {
public:
    static bool getUseOrbaCoreLog() { return orba_get_use_orba_core_log() != 0; }
    static void setUseOrbaCoreLog(bool use) { orba_set_use_orba_core_log(use ? 1 : 0); }
};

}  // namespace CAbi
}  // namespace Logger
}  // namespace Core
}  // namespace ORBA
