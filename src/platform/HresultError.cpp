#include "platform/HresultError.h"

#include <cstdio>

#include "orba/misc/DeviceIdentity.h"

namespace ORBA {
namespace Platform {

void throwHresultError(std::int32_t code, std::string message) {
    using namespace Misc;
    if (message.empty()) {
        char text[32];
        std::snprintf(text, sizeof text, "HRESULT 0x%08X", static_cast<unsigned>(code));
        message = text;
    }
    switch (static_cast<std::uint32_t>(code)) {
    case 0x80070005: throw hresult_access_denied(code, std::move(message));
    case 0x8001010E: throw hresult_wrong_thread(code, std::move(message));
    case 0x80004001: throw hresult_not_implemented(code, std::move(message));
    case 0x80070057: throw hresult_invalid_argument(code, std::move(message));
    case 0x8000000B: throw hresult_out_of_bounds(code, std::move(message));
    case 0x80004002: throw hresult_no_interface(code, std::move(message));
    case 0x80040111: throw hresult_class_not_available(code, std::move(message));
    case 0x80040154: throw hresult_class_not_registered(code, std::move(message));
    case 0x8000000C: throw hresult_changed_state(code, std::move(message));
    case 0x8000000E: throw hresult_illegal_method_call(code, std::move(message));
    case 0x8000000D: throw hresult_illegal_state_change(code, std::move(message));
    case 0x80000018: throw hresult_illegal_delegate_assignment(code, std::move(message));
    case 0x800704C7: throw hresult_canceled(code, std::move(message));
    default: throw hresult_error(code, std::move(message));
    }
}

}  // namespace Platform
}  // namespace ORBA
