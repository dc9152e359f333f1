// The platform information and the text channel for hosts that cannot call the C++ functions.
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "capi/CallGuard.h"
#include "orba/Misc.h"

using ORBA::CApi::copyOut;
using ORBA::CApi::guarded;
using ORBA::CApi::textIn;
namespace Misc = ORBA::Platform::Misc;

namespace {

// Hands the host's pointer back to it once the channel lets go of the callback, however that
// happens: kept until the library unloads, or dropped by a later ipcOpen.
class HostCallback {
public:
    HostCallback(orba_ipc_callback callback, void* user, orba_ipc_release release)
        : callback_(callback), user_(user), release_(release) {}
    HostCallback(const HostCallback&) = delete;
    HostCallback& operator=(const HostCallback&) = delete;
    ~HostCallback() {
        if (release_ != nullptr) release_(user_);
    }

    void operator()(const std::string& text) const { callback_(text.c_str(), user_); }

private:
    orba_ipc_callback callback_;
    void* user_;
    orba_ipc_release release_;
};

template <typename Text>
char* textOut(const char* function, Text query) {
    return guarded(function, static_cast<char*>(nullptr), [&] { return copyOut(query()); });
}

}  // namespace

extern "C" {

ORBA_API char* orba_get_os_version(void) { return textOut(__func__, Misc::getOsVersion); }

ORBA_API char* orba_tracker_status(void) { return textOut(__func__, Misc::getTrackerStatus); }
ORBA_API char* orba_get_platform(void) { return textOut(__func__, Misc::getPlatform); }
ORBA_API char* orba_get_cpu_type(void) { return textOut(__func__, Misc::getCpuType); }
ORBA_API char* orba_get_cpu_model(void) { return textOut(__func__, Misc::getCPUModel); }

ORBA_API int64_t orba_get_physically_installed_system_memory(void) {
    return guarded(__func__, std::int64_t{0}, Misc::getPhysicallyInstalledSystemMemory);
}

ORBA_API double orba_get_physically_installed_system_memory_gb(void) {
    return guarded(__func__, 0.0, Misc::getPhysicallyInstalledSystemMemoryGB);
}

ORBA_API char* orba_get_mcc(void) { return textOut(__func__, Misc::getMcc); }
ORBA_API char* orba_get_mnc(void) { return textOut(__func__, Misc::getMnc); }

ORBA_API char* orba_get_device_model(void) { return textOut(__func__, Misc::getDeviceModel); }

ORBA_API orba_string* orba_get_gpu_model_list(size_t* count) {
    if (count != nullptr) *count = 0;
    return guarded(__func__, static_cast<orba_string*>(nullptr),
                   [&] { return ORBA::CApi::copyOutList(Misc::getGPUModelList(), count); });
}

ORBA_API char* orba_get_device_name(void) { return textOut(__func__, Misc::getDeviceName); }
ORBA_API char* orba_get_user_name(void) { return textOut(__func__, Misc::getUserName); }
ORBA_API char* orba_get_language(void) { return textOut(__func__, Misc::getLanguage); }
ORBA_API char* orba_get_country(void) { return textOut(__func__, Misc::getCountry); }
ORBA_API char* orba_get_advertising_id(void) { return textOut(__func__, Misc::getAdvertisingId); }

ORBA_API int orba_get_is_limit_ad_tracking(void) {
    return guarded(__func__, 0, [] { return Misc::getIsLimitAdTracking() ? 1 : 0; });
}

ORBA_API char* orba_get_available_tcp_port(uint16_t start) {
    return guarded(__func__, static_cast<char*>(nullptr),
                   [&] { return copyOut(Misc::getAvailableTCPPort(start)); });
}

ORBA_API int64_t orba_get_processor_id(const char* executable_name) {
    return guarded(__func__, std::int64_t{0}, [&] {
        return static_cast<std::int64_t>(Misc::getProcessorID(textIn(executable_name)));
    });
}

ORBA_API char* orba_get_app_version(void) { return textOut(__func__, Misc::getAppVersion); }

ORBA_API uint32_t orba_get_window_width(void) {
    return guarded(__func__, std::uint32_t{0}, Misc::getWindowWidth);
}

ORBA_API uint32_t orba_get_window_height(void) {
    return guarded(__func__, std::uint32_t{0}, Misc::getWindowHeight);
}

ORBA_API int orba_get_is_landscape_window(void) {
    return guarded(__func__, 0, [] { return Misc::getIsLandscapeWindow() ? 1 : 0; });
}

ORBA_API void orba_ipc_open(orba_ipc_callback callback, void* user, orba_ipc_release release) {
    ORBA::CApi::clearLastError();
    std::unique_ptr<HostCallback> owner;
    try {
        // From here on the owner releases `user` on every path, the failures included.
        owner = std::make_unique<HostCallback>(callback, user, release);
    } catch (...) {
        if (release != nullptr) release(user);
        ORBA::CApi::failWithCurrentException(__func__);
        return;
    }
    ORBA::CApi::guardedVoid(__func__, [&] {
        std::function<void(std::string)> receiver;
        if (callback != nullptr) {
            std::shared_ptr<HostCallback> shared(std::move(owner));
            receiver = [shared](std::string text) { (*shared)(text); };
        }
        owner.reset();
        Misc::ipcOpen(std::move(receiver));
    });
}

ORBA_API void orba_ipc_send(const char* process_id, const char* message) {
    ORBA::CApi::guardedVoid(__func__, [&] { Misc::ipcSend(textIn(process_id), textIn(message)); });
}

}  // extern "C"
