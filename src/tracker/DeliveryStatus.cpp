#include "tracker/DeliveryStatus.h"

#include <utility>
#include <vector>

#include "orba/Misc.h"
#include "tracker/Delivery.h"
#include "core/Json.h"
#include "core/KeptForever.h"

namespace ORBA {

DeliveryStatus& DeliveryStatus::instance() {
    // Never destroyed: a thread may report while the process exits.
    static DeliveryStatus& status = Core::keptForever<DeliveryStatus>();
    return status;
}

void DeliveryStatus::configured(const std::string& appId, bool background) {
    const std::lock_guard<std::mutex> lock(mutex_);
    apps_[appId].background = background;
}

void DeliveryStatus::answered(const std::string& appId, int status,
                              std::optional<std::chrono::milliseconds> retryIn) {
    const std::lock_guard<std::mutex> lock(mutex_);
    App& app = apps_[appId];
    app.lastStatus = status;
    app.nextRetry.reset();
    if (status >= 200 && status <= 299) {
        ++app.delivered;
    } else if (retryIn) {
        ++app.retried;
        app.nextRetry = std::chrono::steady_clock::now() + *retryIn;
    }
}

void DeliveryStatus::dropped(const std::string& appId, const char* reason, std::uint64_t count) {
    const std::lock_guard<std::mutex> lock(mutex_);
    apps_[appId].dropped[reason] += count;
}

void DeliveryStatus::erased(const std::string& appId, std::uint64_t count) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = apps_.find(appId);
    if (found != apps_.end() && count > 0) found->second.dropped[DropReason::kErased] += count;
}

std::string DeliveryStatus::json(const std::function<Waiting(const std::string& appId)>& waitingOf) {
    std::map<std::string, App> apps;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        apps = apps_;
    }
    const auto now = std::chrono::steady_clock::now();
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& [appId, app] : apps) {
        nlohmann::ordered_json entry;
        entry["appId"] = appId;
        entry["delivery"] = app.background ? "background" : "sync";
        // Read without the lock: listing the outbox is disk work.
        const Waiting waiting = app.background && waitingOf ? waitingOf(appId) : Waiting{};
        entry["waiting"] = waiting.requests;
        entry["waitingBytes"] = waiting.bytes;
        entry["oldestWaitingSeconds"] =
            waiting.oldestSeconds ? nlohmann::ordered_json(*waiting.oldestSeconds) : nullptr;
        entry["delivered"] = app.delivered;
        entry["retried"] = app.retried;
        nlohmann::ordered_json dropped = nlohmann::ordered_json::object();
        for (const char* reason :
             {DropReason::kRefused, DropReason::kNoRoom, DropReason::kIntakeFull,
              DropReason::kTooLarge, DropReason::kNotStored, DropReason::kOtherEndpoint,
              DropReason::kNotAllowed, DropReason::kNoAnswer, DropReason::kErased}) {
            const auto found = app.dropped.find(reason);
            dropped[reason] = found == app.dropped.end() ? 0 : found->second;
        }
        entry["dropped"] = std::move(dropped);
        entry["lastStatus"] = app.lastStatus ? nlohmann::ordered_json(*app.lastStatus) : nullptr;
        if (app.nextRetry && *app.nextRetry > now) {
            entry["nextRetrySeconds"] =
                std::chrono::duration<double>(*app.nextRetry - now).count();
        } else {
            entry["nextRetrySeconds"] = nullptr;
        }
        list.push_back(std::move(entry));
    }
    nlohmann::ordered_json root;
    root["apps"] = std::move(list);
    return Core::Json::write(root);
}

namespace Platform {
namespace Misc {

std::string getTrackerStatus() { return Delivery::instance().status(); }

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
