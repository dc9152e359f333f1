// orba-collector: a local stand-in for the attribution service's event endpoint.
#include <csignal>
#include <cstdio>
#include <string>

#include "Collector.h"

int main(int argc, char** argv) {
    OrbaCollector::Options options;
    std::string error;
    if (!OrbaCollector::parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "orba-collector: %s\n%s", error.c_str(), OrbaCollector::kUsage);
        return 2;
    }
    // Blocked before any thread starts, so that only the collector's signal thread receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return OrbaCollector::runCollector(options);
}
