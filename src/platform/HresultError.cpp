#include "platform/HresultError.h"

#include <cstdio>

#include "orba/misc/HresultError.h"

namespace ORBA {
namespace Platform {

void throwHresultError(std::int32_t code, std::string message) {
    using namespace Misc;
    if (message.empty()) {
        char text[32];
        std::snprintf(text, sizeof text, "HRESULT 0x%08X", static_cast<unsigned>(code));
        message = text;
    }
    Misc::detail::throwHresultForCode(code, std::move(message));
}

}  // namespace Platform
}  // namespace ORBA
