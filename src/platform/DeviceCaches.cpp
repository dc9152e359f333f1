#include "platform/DeviceCaches.h"

namespace ORBA {
namespace Platform {

std::string DeviceCaches::deviceModel(const PropertyQuery& query) {
    if (deviceModelKept_.load(std::memory_order_acquire)) return cachedDeviceModel_;
    std::lock_guard<std::mutex> lock(queryMutex_);
    // Another thread may have filled the cache while this one waited for the lock.
    if (deviceModelKept_.load(std::memory_order_relaxed)) return cachedDeviceModel_;
    for (const std::optional<std::string>& model : query()) {
        if (model) cachedDeviceModel_ = *model;
    }
    if (!cachedDeviceModel_.empty()) deviceModelKept_.store(true, std::memory_order_release);
    return cachedDeviceModel_;
}

std::vector<std::string> DeviceCaches::gpuModels(const PropertyQuery& query) {
    if (gpuModelsKept_.load(std::memory_order_acquire)) return cachedGpuModels_;
    // A lock of its own: two host threads filling the list at once would corrupt it, and the
    // adapter query has no reason to wait for the queries behind the shared mutex.
    std::lock_guard<std::mutex> lock(gpuMutex_);
    if (gpuModelsKept_.load(std::memory_order_relaxed)) return cachedGpuModels_;
    for (const std::optional<std::string>& name : query()) {
        if (name) cachedGpuModels_.push_back(*name);
    }
    if (!cachedGpuModels_.empty()) gpuModelsKept_.store(true, std::memory_order_release);
    return cachedGpuModels_;
}

}  // namespace Platform
}  // namespace ORBA
