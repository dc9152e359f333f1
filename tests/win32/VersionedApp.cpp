// A stand-in game executable with a version resource: prints what the library reads as its
// version, in brackets so that an empty answer shows.
#include <cstdio>

#include "orba/misc/NetworkProcess.h"

int main() {
    std::printf("[%s]\n", ORBA::Platform::Misc::getAppVersion().c_str());
    return 0;
}
