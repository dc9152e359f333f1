// The diagnostic log compiled in the host over the C interface; see orba/Logger.h for the
// contracts.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "orba/orba.h"

namespace ORBA {
namespace Core {
namespace Logger {
// A namespace of its own keeps these apart from the library's C++ symbols of the same names.
inline namespace CAbi {

inline void Log(const std::string& text) { orba_log(text.c_str(), 0); }

inline void Log(const std::string& text, bool force) { orba_log(text.c_str(), force ? 1 : 0); }

inline void setLogCallback(std::function<void(const std::string& line)> callback) {
    using Callback = std::function<void(const std::string& line)>;
    if (!callback) {
        orba_set_log_callback(nullptr, nullptr);
        return;
    }
    // Kept for the rest of the process: another thread may still be passing a line to it. The
    // list keeps them reachable, so that a leak checker does not count them.
    static std::vector<Callback*>& keptCallbacks = *new std::vector<Callback*>;
    Callback* const kept = new Callback(std::move(callback));
    keptCallbacks.push_back(kept);
    orba_set_log_callback(
        [](void* user, const char* text, size_t length) {
            try {
                (*static_cast<Callback*>(user))(std::string(text, length));
            } catch (...) {
                // Nothing may unwind into the library.
            }
        },
        kept);
}

class LogSetting {
public:
    static bool getUseOrbaCoreLog() { return orba_get_use_orba_core_log() != 0; }
    static void setUseOrbaCoreLog(bool use) { orba_set_use_orba_core_log(use ? 1 : 0); }
};

}  // namespace CAbi
}  // namespace Logger
}  // namespace Core
}  // namespace ORBA
