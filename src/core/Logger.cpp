#include "orba/Logger.h"

#include <exception>
#include <string>

#include "core/Utf.h"
#include "platform/DebugOutput.h"

namespace ORBA {
namespace Core {
namespace Logger {

bool LogSetting::useOrbaCoreLog = false;

bool LogSetting::getUseOrbaCoreLog() { return useOrbaCoreLog; }

void LogSetting::setUseOrbaCoreLog(bool use) { useOrbaCoreLog = use; }

void Log(const std::string& text) { Log(text, false); }

void Log(const std::string& text, bool force) {
    if (!force && !LogSetting::getUseOrbaCoreLog()) return;
    try {
        try {
            const std::u16string wide = utf8ToUtf16(text);
            Platform::writeDebugOutputWide(wide.c_str());
        } catch (const std::exception& error) {
            Platform::writeDebugOutputNarrow(text.c_str());
            const std::string message = std::string("[Loogger] Exception Occur! : ") + error.what();
            Platform::writeDebugOutputNarrow(message.c_str());
        }
        Platform::writeDebugOutputNarrow("\n");
    } catch (...) {
        // Logging must never take its caller down, not even when memory runs out.
    }
}

}  // namespace Logger
}  // namespace Core
}  // namespace ORBA
