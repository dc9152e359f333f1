// Where the logger's lines go. The core owns the interface and knows nothing of any output; the
// platform layer supplies the debug-output sink, and a test may put its own in its place.
#pragma once

#include <cstddef>

namespace ORBA {
namespace Core {

class LogSink {
public:
    // Each call is one message of the output. A failing sink drops the text: neither throws.
    virtual void writeWide(const char16_t* text) noexcept = 0;
    virtual void writeNarrow(const char* text) noexcept = 0;

protected:
    // Not virtual: the logger never owns a sink. This lets a sink with nothing to release be
    // trivially destructible, so that it outlives every exit-time handler that might still log.
    ~LogSink() = default;
};

// Returns the sink lines go to while none is set: the platform's debug output. Defined by the
// platform layer, and referenced from the logger, so that whatever links the logger links it too.
LogSink& defaultLogSink();

// Sends the logger's lines to `sink` from now on, nullptr to the default again. Returns the
// sink set before. `sink` must stay alive until it is replaced.
LogSink* setLogSink(LogSink* sink);

// Sends the logger's lines to `callback` (with `user`) instead of any sink, from now on; null to
// the sink again.
void setRawLogCallback(void (*callback)(void* user, const char* text, std::size_t length),
                       void* user);

}  // namespace Core
}  // namespace ORBA
