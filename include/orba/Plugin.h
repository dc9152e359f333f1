// The tracker's entry points. The host obtains the interface record once and hands every tracker
// command to its callback as a NUL-terminated UTF-8 JSON text {"event": name, "body": arguments}.
#pragma once

#include "orba/Export.h"

namespace ORBA {

// Filled when the library loads and never changed afterwards.
struct OrbaPluginInterface {
    void (*triggerEventCallback)(const char* command);
};

}  // namespace ORBA

// Returns the same record on every call; no side effect.
extern "C" ORBA_API const ORBA::OrbaPluginInterface* createOrbaPluginInterface();

// Runs one command on the calling thread. With sync delivery (the default) a reporting command
// posts its request before it returns; with background delivery it stores the request in the
// outbox and returns at once, and a library thread sends it. Nothing is returned and no exception
// leaves it; failures are logged while core logging is on. Commands must be delivered one at a
// time.
ORBA_API void TriggerOrbaThirdPartyTrackerEventCallbackFunc(const char* command);
