// A game that links the installed library. Built with another compiler and standard library than
// the library itself, it must keep to what crosses that boundary: C entry points, and C++
// functions whose signatures hold no standard-library type.
#include <cstdio>

#include "orba/Logger.h"
#include "orba/Plugin.h"

int main() {
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);

    const ORBA::OrbaPluginInterface* plugin = createOrbaPluginInterface();
    if (plugin == nullptr || plugin->triggerEventCallback == nullptr ||
        plugin != createOrbaPluginInterface()) {
        std::fprintf(stderr, "consumer: no usable interface record\n");
        return 1;
    }
    // A truncated text: the library logs the parser's complaint and returns to the game.
    plugin->triggerEventCallback("{\"event\":");
    // Ignored silently while the tracker is not initialised.
    plugin->triggerEventCallback("{\"event\":\"SendEvent\",\"body\":{\"eventName\":\"level_up\"}}");

    // C interface: its calls (and the C++ API over it, with ORBA_USE_C_ABI) go here once the
    // library exports them.

    std::printf("consumer: commands delivered\n");
    return 0;
}
