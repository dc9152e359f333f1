// SendEvent and SendRevenueEvent.
#pragma once

#include <nlohmann/json.hpp>

#include "plugin/JsonValue.h"

namespace ORBA {

// Each is given the command's body and makes one sendEvent call on the active module.
void runSendEvent(JsonValue body);
void runSendRevenueEvent(JsonValue body);

// The seven purchase members built from SendRevenueEvent's "data".
nlohmann::json makePurchaseParameters(JsonValue data);

}  // namespace ORBA
