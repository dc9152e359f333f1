// The outside world as the reporting modules see it: the identity store, UUIDs, the OS version
// and the HTTPS post. Each module is handed its services when it is made: the platform's, or
// fakes in tests.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tracker/EventRecord.h"
#include "tracker/HttpTransport.h"

namespace ORBA {

// Identity values that never change once stored (the install ids), by name, as this process
// learnt them: reading them again on every command would only cost disk work.
class KnownValues {
public:
    std::optional<std::string> find(const std::string& name) const {
        const std::lock_guard<std::mutex> hold(mutex_);
        const auto found = values_.find(name);
        if (found == values_.end()) return std::nullopt;
        return found->second;
    }
    void remember(const std::string& name, const std::string& value) {
        const std::lock_guard<std::mutex> hold(mutex_);
        values_[name] = value;
    }
    // For a value removed from the store: the next need reads it again.
    void forget(const std::string& name) {
        const std::lock_guard<std::mutex> hold(mutex_);
        values_.erase(name);
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> values_;
};

struct TrackerServices {
    std::function<std::string(const std::string& name, std::size_t maxBytes)> readValue;
    std::function<bool(const std::string& name, const std::string& value)> writeValue;
    // Reads `name` and stores what the update makes of it, with no other update of that value in
    // between, in this process or another; returns the value stored afterwards (or, when the
    // store fails, what the update made of the value read).
    std::function<std::string(
        const std::string& name, std::size_t maxBytes,
        const std::function<std::optional<std::string>(const std::string& current)>& update)>
        updateValue;
    // Removes `name` from the store; true when no value is left. None: nothing can be removed.
    std::function<bool(const std::string& name)> removeValue;
    // Reads a value that no earlier version kept, without looking where those versions kept
    // theirs. None: readValue stands in.
    std::function<std::string(const std::string& name, std::size_t maxBytes)> readOwnValue;
    std::function<std::string()> makeUuid;
    std::function<std::string()> osVersion;
    // Posts `request` now and returns what came back: status 0, with the reason, when no
    // answer came.
    std::function<HttpResult(const HttpRequest& request)> post;
    // Background delivery: keeps `request` of `appId` for the sender thread; true once kept.
    std::function<bool(const std::string& appId, EventKind kind, const HttpRequest& request)> store;
    // Background delivery: where `appId`'s requests go; the sender delivers what is kept for it.
    // `outboxMaxBytes` 0 keeps the built-in bound.
    std::function<void(const std::string& appId, const std::string& baseUrl,
                       const std::string& caFile, std::size_t outboxMaxBytes)>
        configureDelivery;
    // Belongs to the store above: whoever replaces the store replaces this too.
    std::shared_ptr<KnownValues> knownValues = std::make_shared<KnownValues>();
};

// The platform's implementations, with a cache of known values of their own.
TrackerServices platformTrackerServices();

}  // namespace ORBA
