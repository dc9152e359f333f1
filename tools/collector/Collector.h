// The collector's command line and its server: accepts the event requests of the tracker on
// the loopback interface, checks their signatures and prints one JSON line for each.
#pragma once

#include <string>

namespace OrbaCollector {

struct Options {
    int port = 0;  // 0: any free port
    std::string devKey;
    std::string caOut;
    std::string certFile;
    std::string keyFile;
    int status = 202;
    std::string recordFile;
    bool intermediate = false;  // serve through an intermediate authority
    bool intermediateNotCa = false;  // ... through an intermediate that is no authority
    std::string countersFile;
    bool pretty = false;        // requests on standard output as readable blocks, not JSON
    int uiPort = -1;            // the integration view's port on 127.0.0.1; -1: no view, 0: any free port
};

// Reads the command line into `options`; on a mistake returns false and says why in `error`.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

extern const char* const kUsage;

// Serves until SIGINT or SIGTERM; returns the process's exit code. The signals must already be
// blocked in every thread.
int runCollector(const Options& options);

}  // namespace OrbaCollector
