// The main-window size and the text channel compiled in the host over the C interface; see
// orba/misc/WindowMessaging.h for the contracts.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>

#include "orba/detail/CAbi.h"

namespace ORBA {
namespace detail {

using IpcCallback = std::function<void(std::string)>;

// Runs on the library's side of the channel: nothing may be thrown back into it.
inline void deliverIpcText(const char* text, void* user) {
    try {
        (*static_cast<IpcCallback*>(user))(std::string(text));
    } catch (const std::exception& error) {
        orba_log((std::string("ipc callback threw: ") + error.what()).c_str(), 1);
    } catch (...) {
        orba_log("ipc callback threw: unknown exception", 1);
    }
}

inline void releaseIpcCallback(void* user) { delete static_cast<IpcCallback*>(user); }

}  // namespace detail

}  // namespace ORBA

namespace ORBA {
namespace Platform {
namespace Misc {
// A namespace of its own keeps these apart from the library's C++ symbols of the same names.
inline namespace CAbi {

inline std::uint32_t getWindowWidth() { return ORBA::detail::checked(orba_get_window_width()); }
inline std::uint32_t getWindowHeight() { return ORBA::detail::checked(orba_get_window_height()); }
inline bool getIsLandscapeWindow() {
    return ORBA::detail::checked(orba_get_is_landscape_window()) != 0;
}

inline void ipcOpen(std::function<void(std::string)> callback) {
    if (!callback) {
        orba_ipc_open(nullptr, nullptr, nullptr);
        return;
    }
    // The library owns the copy from here and hands it back to releaseIpcCallback.
    orba_ipc_open(&ORBA::detail::deliverIpcText, new ORBA::detail::IpcCallback(std::move(callback)),
                  &ORBA::detail::releaseIpcCallback);
}

inline void ipcSend(const std::string& processId, const std::string& message) {
    orba_ipc_send(processId.c_str(), message.c_str());
}

}  // namespace CAbi
}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
