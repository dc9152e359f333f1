// The host identifiers sent with every event, and the credentials read from InitTracker.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "plugin/JsonValue.h"
#include "tracker/TrackerConfig.h"

namespace ORBA {

// Five host identifiers, stored as given and passed on unchanged as custom parameters.
class OndrixContext {
public:
    std::string did;
    std::string appId;
    std::string analyticsId;
    std::string serverId;
    std::string orbaCountry;
};

// The process-wide context, created on first call; safe against concurrent first use.
std::shared_ptr<OndrixContext>& sharedContext();

// Replaces all five fields from `value`: a missing or non-string member becomes empty.
void applyCommonContext(const std::shared_ptr<OndrixContext>& context, JsonValue value);

// Sets the five context members of `object` as strings, overwriting members of the same name.
void writeContextTo(const std::shared_ptr<OndrixContext>& context, nlohmann::json& object);

// Reads the credentials from InitTracker's "config" object (or its top level when there is none);
// members of a kind other than String are ignored.
TrackerConfig readTrackerConfig(const JsonValue& body);

}  // namespace ORBA
