// How an activation factory of a Windows Runtime class is found: the registered activation, once
// more after joining the implicit multithreaded apartment, and then the component library itself.
// The order and the error bookkeeping live here; the system calls behind them are the caller's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ORBA {
namespace Platform {

// The system steps of one activation, for one class and the interface the call needs.
class ActivationSteps {
public:
    virtual ~ActivationSteps() = default;
    // The registered activation (RoGetActivationFactory). Fills `factory` on success.
    virtual std::int32_t getActivationFactory(void** factory) = 0;
    // Joins the implicit multithreaded apartment; false when the system has no way to.
    virtual bool joinMultithreadedApartment() = 0;
    // Asks the component library `library` for the factory. On success the library stays loaded
    // and `factory` is filled; otherwise the library is freed again.
    virtual bool getFactoryFromLibrary(const std::u16string& library, void** factory) = 0;
    // Takes the calling thread's error information aside, and puts it back.
    virtual void saveErrorInfo() = 0;
    virtual void restoreErrorInfo() = 0;
};

// The component libraries that may hold `classId`, most specific first:
// "A.B.C.Class" gives "A.B.C.dll", "A.B.dll", "A.dll".
std::vector<std::u16string> componentLibraryNames(std::u16string_view classId);

// Runs the activation of `classId`. Returns 0 with `factory` filled, or the code of the first
// failure with the thread's error information as that failure left it. CO_E_NOTINITIALIZED
// that cannot be cured by joining the apartment ends the activation.
std::int32_t activateFactory(ActivationSteps& steps, std::u16string_view classId, void** factory);

}  // namespace Platform
}  // namespace ORBA
