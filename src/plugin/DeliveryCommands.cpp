#include "plugin/DeliveryCommands.h"

#include <chrono>
#include <cstdint>

#include "orba/Logger.h"
#include "plugin/CommandKeys.h"
#include "tracker/Delivery.h"

namespace ORBA {
namespace {

// Long enough for a few requests over a slow connection, short enough not to hold a closing
// game up for long.
constexpr std::int64_t kDefaultFlushMs = 2000;
// A day: past it a wait is a mistake rather than a wish.
constexpr std::int64_t kLongestFlushMs = 24LL * 60 * 60 * 1000;

std::int64_t flushTimeoutMs(const JsonValue& body) {
    if (!body.contains(Keys::kTimeoutMs)) return kDefaultFlushMs;
    const JsonValue& timeout = body.at(Keys::kTimeoutMs);
    if (!timeout.is(JsonKind::Integer) && !timeout.is(JsonKind::Float)) {
        Core::Logger::Log("FlushTracker: \"timeoutMs\" is not a number; waiting " +
                          std::to_string(kDefaultFlushMs) + " ms");
        return kDefaultFlushMs;
    }
    const double milliseconds = timeout.asDouble();
    if (!(milliseconds > 0)) return 0;  // negative or NaN: no wait
    return milliseconds >= static_cast<double>(kLongestFlushMs)
               ? kLongestFlushMs
               : static_cast<std::int64_t>(milliseconds);
}

}  // namespace

void runFlushTracker(const JsonValue& body) {
    const std::int64_t timeout = flushTimeoutMs(body);
    if (!Delivery::instance().flush(std::chrono::milliseconds(timeout))) {
        Core::Logger::Log("FlushTracker: requests still wait in the outbox after " +
                          std::to_string(timeout) + " ms");
    }
}

}  // namespace ORBA
