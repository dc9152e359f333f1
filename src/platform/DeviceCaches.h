// The two process-wide caches of the device queries: the computer model and the list of graphics
// adapters. What a query read is interpreted here, the same way on every system.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ORBA {
namespace Platform {

// One entry per object the system enumerated, in its order: the property's text, or nullopt
// when that object's property could not be read. No entries when the query could not run.
using PropertyReads = std::vector<std::optional<std::string>>;
using PropertyQuery = std::function<PropertyReads()>;

class DeviceCaches {
public:
    // `queryMutex` serialises the model query with the other queries that share it.
    explicit DeviceCaches(std::mutex& queryMutex) : queryMutex_(queryMutex) {}
    DeviceCaches(const DeviceCaches&) = delete;
    DeviceCaches& operator=(const DeviceCaches&) = delete;

    // Returns the kept model when there is one; otherwise runs `query` under the query mutex and
    // keeps the last value read (the last object's model wins). An empty result is not kept, so
    // the next call queries again.
    std::string deviceModel(const PropertyQuery& query);

    // Returns the kept adapter names when there are some; otherwise runs `query` and keeps every
    // name read, in order. Objects whose name could not be read add nothing.
    std::vector<std::string> gpuModels(const PropertyQuery& query);

private:
    std::mutex& queryMutex_;
    // Set once the cache holds its final value; from then on it is only read, without a lock.
    std::atomic<bool> deviceModelKept_{false};
    std::string cachedDeviceModel_;

    std::mutex gpuMutex_;
    std::atomic<bool> gpuModelsKept_{false};
    std::vector<std::string> cachedGpuModels_;
};

}  // namespace Platform
}  // namespace ORBA
