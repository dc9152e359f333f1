// The logger's default sink: the process's debug output.
#include "platform/DebugOutput.h"

#include "core/LogSink.h"

namespace ORBA {
namespace Core {
namespace {

class DebugOutputSink final : public LogSink {
public:
    void writeWide(const char16_t* text) noexcept override { Platform::writeDebugOutputWide(text); }
    void writeNarrow(const char* text) noexcept override { Platform::writeDebugOutputNarrow(text); }
};

}  // namespace

LogSink& defaultLogSink() {
    // Never destroyed: exit-time handlers of the host and of the library may still log.
    static LogSink& sink = *new DebugOutputSink;
    return sink;
}

}  // namespace Core
}  // namespace ORBA
