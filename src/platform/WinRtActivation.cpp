#include "platform/WinRtActivation.h"

#include "platform/HresultError.h"

namespace ORBA {
namespace Platform {

std::vector<std::u16string> componentLibraryNames(std::u16string_view classId) {
    std::vector<std::u16string> names;
    std::u16string_view rest = classId;
    for (auto dot = rest.rfind(u'.'); dot != std::u16string_view::npos && dot > 0;
         dot = rest.rfind(u'.')) {
        rest = rest.substr(0, dot);
        names.push_back(std::u16string(rest) + u".dll");
    }
    return names;
}

std::int32_t activateFactory(ActivationSteps& steps, std::u16string_view classId, void** factory) {
    *factory = nullptr;
    std::int32_t result = steps.getActivationFactory(factory);
    if (result == kCoENotInitialized) {
        if (!steps.joinMultithreadedApartment()) return kCoENotInitialized;
        result = steps.getActivationFactory(factory);
    }
    if (result >= 0 && *factory != nullptr) return 0;
    if (result >= 0) result = kClassNotRegistered;  // success without a factory is no success

    steps.saveErrorInfo();
    for (const std::u16string& library : componentLibraryNames(classId)) {
        *factory = nullptr;
        if (steps.getFactoryFromLibrary(library, factory) && *factory != nullptr) return 0;
    }
    *factory = nullptr;
    steps.restoreErrorInfo();
    return result;
}

}  // namespace Platform
}  // namespace ORBA
