// The diagnostic log and the tracker's command entry for hosts that cannot call the C++
// functions.
#include "capi/CallGuard.h"
#include "core/LogSink.h"
#include "orba/Logger.h"
#include "orba/Plugin.h"

using ORBA::CApi::guardedVoid;
using ORBA::CApi::textIn;
namespace Logger = ORBA::Core::Logger;

extern "C" {

ORBA_API void orba_trigger_orba_third_party_tracker_event_callback_func(const char* command) {
    guardedVoid(__func__, [&] { TriggerOrbaThirdPartyTrackerEventCallbackFunc(command); });
}

ORBA_API void orba_log(const char* text, int force) {
    guardedVoid(__func__, [&] { Logger::Log(textIn(text), force != 0); });
}

ORBA_API int orba_get_use_orba_core_log(void) {
    return ORBA::CApi::guarded(__func__, 0,
                               [] { return Logger::LogSetting::getUseOrbaCoreLog() ? 1 : 0; });
}

ORBA_API void orba_set_use_orba_core_log(int use) {
    guardedVoid(__func__, [&] { Logger::LogSetting::setUseOrbaCoreLog(use != 0); });
}

ORBA_API void orba_set_log_callback(orba_log_callback callback, void* user) {
    guardedVoid(__func__, [&] { ORBA::Core::setRawLogCallback(callback, user); });
}

}  // extern "C"
