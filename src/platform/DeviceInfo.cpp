#include "orba/misc/DeviceIdentity.h"

#include <mutex>

#include "platform/DeviceCaches.h"
#include "platform/DeviceInfo.h"
#include "core/KeptForever.h"

namespace ORBA {
namespace Platform {

// Serialises the device-model query and the advertising reads.
std::mutex platformQueryMutex;

namespace {

// Never destroyed: a game's thread may still ask while the process exits. An unloaded library
// leaves the two cached values behind.
DeviceCaches& deviceCaches() {
    static DeviceCaches& caches = Core::keptForever<DeviceCaches>(platformQueryMutex);
    return caches;
}

}  // namespace

namespace Misc {

std::string getDeviceModel() { return deviceCaches().deviceModel(queryDeviceModels); }

std::vector<std::string> getGPUModelList() { return deviceCaches().gpuModels(queryGpuNames); }

std::string getDeviceName() { return queryDeviceName(); }

std::string getUserName() { return queryUserName(); }

std::string getLanguage() { return queryLanguage(); }

std::string getCountry() { return queryCountry(); }

std::string getAdvertisingId() {
    std::lock_guard<std::mutex> lock(platformQueryMutex);
    return queryAdvertisingId();
}

bool getIsLimitAdTracking() {
    std::lock_guard<std::mutex> lock(platformQueryMutex);
    return queryAdvertisingId().empty();
}

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
