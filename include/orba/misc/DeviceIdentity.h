// Who and where the player's machine is: computer model, graphics adapters, computer and user
// names, preferred language, home country and the advertising identifier.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "orba/Export.h"

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
// ("en-US"). On Windows a failure of the Windows Runtime throws an hresult_error (below); on Linux
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

#define ORBA_HRESULT_SUBCLASS(name)                                                    \
    class name : public hresult_error {                                                \
    public:                                                                            \
        name(std::int32_t code, std::string message)                                   \
            : hresult_error(code, std::move(message)) {}                               \
    }

ORBA_HRESULT_SUBCLASS(hresult_access_denied);                // E_ACCESSDENIED 0x80070005
ORBA_HRESULT_SUBCLASS(hresult_wrong_thread);                 // RPC_E_WRONG_THREAD 0x8001010E
ORBA_HRESULT_SUBCLASS(hresult_not_implemented);              // E_NOTIMPL 0x80004001
ORBA_HRESULT_SUBCLASS(hresult_invalid_argument);             // E_INVALIDARG 0x80070057
ORBA_HRESULT_SUBCLASS(hresult_out_of_bounds);                // E_BOUNDS 0x8000000B
ORBA_HRESULT_SUBCLASS(hresult_no_interface);                 // E_NOINTERFACE 0x80004002
ORBA_HRESULT_SUBCLASS(hresult_class_not_available);          // CLASS_E_CLASSNOTAVAILABLE 0x80040111
ORBA_HRESULT_SUBCLASS(hresult_class_not_registered);         // REGDB_E_CLASSNOTREG 0x80040154
ORBA_HRESULT_SUBCLASS(hresult_changed_state);                // E_CHANGED_STATE 0x8000000C
ORBA_HRESULT_SUBCLASS(hresult_illegal_method_call);          // E_ILLEGAL_METHOD_CALL 0x8000000E
ORBA_HRESULT_SUBCLASS(hresult_illegal_state_change);         // E_ILLEGAL_STATE_CHANGE 0x8000000D
ORBA_HRESULT_SUBCLASS(hresult_illegal_delegate_assignment);  // E_ILLEGAL_DELEGATE_ASSIGNMENT 0x80000018
ORBA_HRESULT_SUBCLASS(hresult_canceled);                     // HRESULT of ERROR_CANCELLED 0x800704C7

#undef ORBA_HRESULT_SUBCLASS

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
