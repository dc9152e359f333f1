// Device identity, locale and advertising compiled in the host over the C interface; see
// orba/misc/DeviceIdentity.h for the contracts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "orba/detail/CAbi.h"

namespace ORBA {
namespace Platform {
namespace Misc {
// A namespace of its own keeps these apart from the library's C++ symbols of the same names.
inline namespace CAbi {

inline std::string getDeviceModel() { return ORBA::detail::takeText(orba_get_device_model()); }

inline std::vector<std::string> getGPUModelList() {
    std::size_t count = 0;
    orba_string* list = orba_get_gpu_model_list(&count);
    return ORBA::detail::takeList(list, count);
}

inline std::string getDeviceName() { return ORBA::detail::takeText(orba_get_device_name()); }
inline std::string getUserName() { return ORBA::detail::takeText(orba_get_user_name()); }
inline std::string getLanguage() { return ORBA::detail::takeText(orba_get_language()); }
inline std::string getCountry() { return ORBA::detail::takeText(orba_get_country()); }
inline std::string getAdvertisingId() { return ORBA::detail::takeText(orba_get_advertising_id()); }

inline bool getIsLimitAdTracking() {
    return ORBA::detail::checked(orba_get_is_limit_ad_tracking()) != 0;
}

}  // namespace CAbi
}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
