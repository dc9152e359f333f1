// A sample host: loads the tracker library at run time, as a game does, and feeds its command
// function one command text per line.
//
//   orba-host [--library PATH] [--log] [COMMAND_FILE]
//
// Without COMMAND_FILE the commands are read from standard input. Empty lines and lines starting
// with "#" are skipped. --log switches the library's core logging on.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "DebugOutputReader.h"
#include "SharedLibrary.h"

namespace {

struct PluginInterface {
    void (*triggerEventCallback)(const char*);
};

using CreateFn = const PluginInterface* (*)();
using SetLogFn = void (*)(bool);

const char kSetUseOrbaCoreLog[] = "_ZN4ORBA4Core6Logger10LogSetting17setUseOrbaCoreLogEb";

const char kUsage[] = "usage: orba-host [--library PATH] [--log] [COMMAND_FILE]\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int help() {
    std::fputs(kUsage, stdout);
    std::fputs("\n"
               "Loads the tracker library as a game does and runs one command text per line of\n"
               "COMMAND_FILE (standard input when none is given). Empty lines and lines starting\n"
               "with '#' are skipped.\n"
               "\n"
               "  --library PATH  the library to load (default: the one beside this program, or\n"
               "                  in ../lib of an installed tree)\n"
               "  --log           switch the library's core logging on and show its lines\n"
               "  --help          show this text\n",
               stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string libraryPath = OrbaTools::executableFolder() + OrbaTools::trackerLibraryFileName();
    bool libraryGiven = false;
    std::string commandFile;
    bool log = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            libraryPath = argv[++i];
            libraryGiven = true;
        } else if (std::strcmp(argv[i], "--log") == 0) {
            log = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return help();
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return usage();
        } else if (commandFile.empty()) {
            commandFile = argv[i];
        } else {
            return usage();
        }
    }

    std::unique_ptr<OrbaTools::SharedLibrary> loaded =
        std::make_unique<OrbaTools::SharedLibrary>(libraryPath);
    if (!loaded->loaded() && !libraryGiven) {
        // An installed tree keeps the Linux library in lib/ beside bin/.
        const std::string installed =
            OrbaTools::executableFolder() + "../lib/" + OrbaTools::trackerLibraryFileName();
        auto second = std::make_unique<OrbaTools::SharedLibrary>(installed);
        if (second->loaded()) {
            loaded = std::move(second);
            libraryPath = installed;
        }
    }
    OrbaTools::SharedLibrary& library = *loaded;
    if (!library.loaded()) {
        std::fprintf(stderr, "orba-host: cannot load %s: %s\n", libraryPath.c_str(),
                     library.error().c_str());
        return 1;
    }
    auto create = reinterpret_cast<CreateFn>(library.symbol("createOrbaPluginInterface"));
    auto setLog = reinterpret_cast<SetLogFn>(library.symbol(kSetUseOrbaCoreLog));
    if (create == nullptr || setLog == nullptr) {
        std::fprintf(stderr, "orba-host: %s lacks the tracker entry points\n", libraryPath.c_str());
        return 1;
    }
    setLog(log);
    // On Windows the library logs to the debugger output; show it here as a debugger would.
    OrbaTools::DebugOutputReader debugOutput([](const std::string& message) {
        std::fputs(message.c_str(), stderr);
    });
    const PluginInterface* plugin = create();

    std::ifstream file;
    if (!commandFile.empty()) {
        file.open(commandFile, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "orba-host: cannot read %s\n", commandFile.c_str());
            return 1;
        }
    }
    std::istream& input = commandFile.empty() ? std::cin : file;
    std::string line;
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::printf("> %s\n", line.c_str());
        std::fflush(stdout);
        plugin->triggerEventCallback(line.c_str());
    }
    debugOutput.stop();
    return 0;
}
