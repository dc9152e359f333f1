// A game that links the installed library. Built with another compiler and standard library than
// the library itself, it uses the C++ API compiled in the game over the C interface, so that every
// std::string it sees is made and freed by its own standard library.
#define ORBA_USE_C_ABI
#include <cstdio>
#include <string>

#include "orba/Logger.h"
#include "orba/Misc.h"
#include "orba/Plugin.h"
#include "orba/StringUtil.h"

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

    using ORBA::Core::StringUtil;
    const std::string encoded = StringUtil::base64Encode(std::string("game\0data", 9));
    if (encoded != "Z2FtZQBkYXRh" || StringUtil::base64DecodeString(encoded) != std::string("game\0data", 9)) {
        std::fprintf(stderr, "consumer: base64 gave %s\n", encoded.c_str());
        return 1;
    }
    if (ORBA::Platform::Misc::getOsVersion().empty()) {
        std::fprintf(stderr, "consumer: no OS version\n");
        return 1;
    }

    std::printf("consumer: commands delivered\n");
    return 0;
}
