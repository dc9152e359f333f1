// The exceptions a failed Windows Runtime call raises in the C++ API.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace ORBA {
namespace Platform {
namespace Misc {

// A failed Windows Runtime activation or method call: the HRESULT code and the message of the
// platform's error information, in UTF-8. The classes below name the codes that have their own.
// They are defined here in full so that a host catches them by type.
class hresult_error : public std::exception {
public:
    hresult_error(std::int32_t code, std::string message)
        : code_(code), message_(std::move(message)) {}

    std::int32_t code() const noexcept { return code_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::int32_t code_;
    std::string message_;
};

#define ORBA_HRESULT_SUBCLASS(name)                                                               \
    class name : public hresult_error {                                                           \
    public:                                                                                       \
        name(std::int32_t code, std::string message) : hresult_error(code, std::move(message)) {} \
    }

ORBA_HRESULT_SUBCLASS(hresult_access_denied);         // E_ACCESSDENIED 0x80070005
ORBA_HRESULT_SUBCLASS(hresult_wrong_thread);          // RPC_E_WRONG_THREAD 0x8001010E
ORBA_HRESULT_SUBCLASS(hresult_not_implemented);       // E_NOTIMPL 0x80004001
ORBA_HRESULT_SUBCLASS(hresult_invalid_argument);      // E_INVALIDARG 0x80070057
ORBA_HRESULT_SUBCLASS(hresult_out_of_bounds);         // E_BOUNDS 0x8000000B
ORBA_HRESULT_SUBCLASS(hresult_no_interface);          // E_NOINTERFACE 0x80004002
ORBA_HRESULT_SUBCLASS(hresult_class_not_available);   // CLASS_E_CLASSNOTAVAILABLE 0x80040111
ORBA_HRESULT_SUBCLASS(hresult_class_not_registered);  // REGDB_E_CLASSNOTREG 0x80040154
ORBA_HRESULT_SUBCLASS(hresult_changed_state);         // E_CHANGED_STATE 0x8000000C
ORBA_HRESULT_SUBCLASS(hresult_illegal_method_call);   // E_ILLEGAL_METHOD_CALL 0x8000000E
ORBA_HRESULT_SUBCLASS(hresult_illegal_state_change);  // E_ILLEGAL_STATE_CHANGE 0x8000000D
ORBA_HRESULT_SUBCLASS(
    hresult_illegal_delegate_assignment);  // E_ILLEGAL_DELEGATE_ASSIGNMENT 0x80000018
ORBA_HRESULT_SUBCLASS(hresult_canceled);   // HRESULT of ERROR_CANCELLED 0x800704C7

#undef ORBA_HRESULT_SUBCLASS

namespace detail {

// Throws the class that names `code`, hresult_error for any other code. Shared by the library
// and by hosts that rebuild the exception from the C interface's last error.
[[noreturn]] inline void throwHresultForCode(std::int32_t code, std::string message) {
    switch (static_cast<std::uint32_t>(code)) {
        case 0x80070005:
            throw hresult_access_denied(code, std::move(message));
        case 0x8001010E:
            throw hresult_wrong_thread(code, std::move(message));
        case 0x80004001:
            throw hresult_not_implemented(code, std::move(message));
        case 0x80070057:
            throw hresult_invalid_argument(code, std::move(message));
        case 0x8000000B:
            throw hresult_out_of_bounds(code, std::move(message));
        case 0x80004002:
            throw hresult_no_interface(code, std::move(message));
        case 0x80040111:
            throw hresult_class_not_available(code, std::move(message));
        case 0x80040154:
            throw hresult_class_not_registered(code, std::move(message));
        case 0x8000000C:
            throw hresult_changed_state(code, std::move(message));
        case 0x8000000E:
            throw hresult_illegal_method_call(code, std::move(message));
        case 0x8000000D:
            throw hresult_illegal_state_change(code, std::move(message));
        case 0x80000018:
            throw hresult_illegal_delegate_assignment(code, std::move(message));
        case 0x800704C7:
            throw hresult_canceled(code, std::move(message));
        default:
            throw hresult_error(code, std::move(message));
    }
}

}  // namespace detail
}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
