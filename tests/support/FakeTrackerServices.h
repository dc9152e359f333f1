// In-memory identity store, numbered UUIDs, a fixed OS version and a recording HTTPS post, for
// the modules a test makes with services(). The modules must go before this object does.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tracker/TrackerServices.h"

namespace OrbaTest {

class FakeTrackerServices {
public:
    FakeTrackerServices() : services_(std::make_shared<ORBA::TrackerServices>()) {
        ORBA::TrackerServices& services = *services_;
        services.readValue = [this](const std::string& name, std::size_t maxBytes) {
            ++reads;
            const auto found = store.find(name);
            if (found == store.end() || found->second.size() + 1 > maxBytes) return std::string();
            return found->second;
        };
        services.writeValue = [this](const std::string& name, const std::string& value) {
            store[name] = value;
            return true;
        };
        services.updateValue = [this](const std::string& name, std::size_t maxBytes,
                                      const auto& update) {
            ++reads;
            const auto found = store.find(name);
            const std::string current =
                found == store.end() || found->second.size() + 1 > maxBytes ? std::string()
                                                                           : found->second;
            const std::optional<std::string> next = update(current);
            if (!next) return current;
            store[name] = *next;
            return *next;
        };
        services.removeValue = [this](const std::string& name) {
            store.erase(name);
            return true;
        };
        services.knownValues = std::make_shared<ORBA::KnownValues>();
        services.makeUuid = [this] { return "uuid-" + std::to_string(++uuidsMade); };
        services.osVersion = [] { return std::string("10.0.19045.3803"); };
        services.post = [this](const ORBA::HttpRequest& request) {
            requests.push_back(request);
            ORBA::HttpResult result;
            result.status = 202;
            if (!statuses.empty()) {
                result.status = statuses.front();
                statuses.pop_front();
            }
            if (result.status == 0) result.failure = "connect failed: the fake has no server";
            return result;
        };
    }
    FakeTrackerServices(const FakeTrackerServices&) = delete;
    FakeTrackerServices& operator=(const FakeTrackerServices&) = delete;

    std::shared_ptr<const ORBA::TrackerServices> services() const { return services_; }

    std::map<std::string, std::string> store;
    std::vector<ORBA::HttpRequest> requests;
    std::deque<int> statuses;  // answers for the next posts; 202 once empty
    int uuidsMade = 0;
    int reads = 0;  // of the store, plain or for an update

private:
    std::shared_ptr<ORBA::TrackerServices> services_;
};

}  // namespace OrbaTest
