// The logger's default sink: the process's debug output.
#include "platform/DebugOutput.h"

#include <type_traits>

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
    // No destructor runs, and nothing is allocated that an unloaded library would leave behind:
    // exit-time handlers of the host and of the library may still log.
    static_assert(std::is_trivially_destructible_v<DebugOutputSink>);
    static DebugOutputSink sink;
    return sink;
}

}  // namespace Core
}  // namespace ORBA
