// FlushTracker: lets a host that is about to end wait a while for background delivery.
#pragma once

#include "plugin/JsonValue.h"

namespace ORBA {

// Waits for background delivery to empty the outbox, at most the body's "timeoutMs".
void runFlushTracker(const JsonValue& body);

}  // namespace ORBA
