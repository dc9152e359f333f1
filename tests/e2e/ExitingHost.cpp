// A game that ends while one of its threads is inside a command: loads the tracker library at run
// time, runs the first command line of COMMAND_FILE, then has a thread of its own run the second
// line over and over while the main thread calls exit(0) DELAY_US microseconds later.
//
//   orba_exiting_host COMMAND_FILE DELAY_US
//
// The library stays loaded (a game that calls exit does not unload it first); the exit status is
// the process's own only when neither the exit nor the busy thread takes it down. A run that
// stalls ends with 10 plus the step it stalled in (see `Step`).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "SharedLibrary.h"

namespace {

struct PluginInterface {
    void (*triggerEventCallback)(const char*);
};
using CreateFn = const PluginInterface* (*)();

std::atomic<bool> busy{false};

// Where the program is, for the status of a run that stalls.
enum Step : int { loading = 0, firstCommand = 1, firstBusyCommand = 2, exiting = 3 };
std::atomic<int> step{loading};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: orba_exiting_host COMMAND_FILE DELAY_US\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::string first;
    std::string repeated;
    if (!std::getline(file, first) || !std::getline(file, repeated)) {
        std::fprintf(stderr, "orba_exiting_host: %s needs two command lines\n", argv[1]);
        return 2;
    }
    const long delayUs = std::strtol(argv[2], nullptr, 10);

    // Started first, so that no thread of this program is still starting when the exit comes
    // (Wine aborts a thread that starts while its process ends, and that can hang the exit).
    // An exit that hangs fails the run rather than the whole suite's time limit.
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(6));
        std::_Exit(10 + step.load());
    }).detach();

    // Never unloaded: exit comes first.
    OrbaTools::SharedLibrary library(OrbaTools::executableFolder() +
                                     OrbaTools::trackerLibraryFileName());
    const auto create = reinterpret_cast<CreateFn>(library.symbol("createOrbaPluginInterface"));
    if (create == nullptr) {
        std::fprintf(stderr, "orba_exiting_host: cannot load the tracker library: %s\n",
                     library.error().c_str());
        return 1;
    }
    const PluginInterface* plugin = create();
    step = firstCommand;
    plugin->triggerEventCallback(first.c_str());
    step = firstBusyCommand;

    std::thread([plugin, repeated] {
        for (;;) {
            plugin->triggerEventCallback(repeated.c_str());
            busy = true;
        }
    }).detach();
    // The exit is to meet the thread in the middle of its work, not before its first command.
    while (!busy) std::this_thread::yield();
    step = exiting;
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    std::exit(0);
}
