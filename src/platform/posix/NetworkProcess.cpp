// Linux back end of the port, process and version queries, read from /proc.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/NetworkProcess.h"
#include "platform/posix/ProcTcpTable.h"

namespace ORBA {
namespace Platform {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Whole file as text; false when it cannot be opened or read, with errno left as the failure set it.
bool readWholeFile(const std::string& path, std::string& text) {
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) return false;
    text = content.str();
    return true;
}

bool isProcessId(const char* name, long& id) {
    if (*name == '\0') return false;
    long value = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > 0x7FFFFFFF / 10) return false;
        value = value * 10 + (*c - '0');
    }
    id = value;
    return true;
}

// The executable's file name: from the exe link where it may be read (own user's processes),
// from comm otherwise (other users' processes, kernel threads).
std::string executableNameOf(long id) {
    const std::string folder = "/proc/" + std::to_string(id) + "/";
    char target[4096];
    const ssize_t length = readlink((folder + "exe").c_str(), target, sizeof target);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof target) {
        return executableNameFromLink(std::string_view(target, static_cast<std::size_t>(length)));
    }
    std::string comm;
    if (!readWholeFile(folder + "comm", comm)) return {};
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    return comm;
}

}  // namespace

std::vector<std::uint16_t> readTcpLocalPortsFromFile(const std::string& path) {
    std::string text;
    if (!readWholeFile(path, text)) {
        char message[64];
        std::snprintf(message, sizeof message, "\tGetTcpTable failed with %d\n", errno);
        throw std::runtime_error(message);
    }
    return parseProcNetTcp(text);
}

std::vector<std::uint16_t> queryTcpLocalPorts() { return readTcpLocalPortsFromFile(kProcNetTcpPath); }

long queryProcessIdByExecutableName(const std::string& executableName) {
    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc) return 0;
    std::vector<long> ids;
    while (const dirent* entry = readdir(proc.get())) {
        long id = 0;
        if (isProcessId(entry->d_name, id)) ids.push_back(id);
    }
    proc.reset();
    // The directory lists processes in no promised order; the oldest ids first make "the first
    // match" the same on every call.
    std::sort(ids.begin(), ids.end());

    std::vector<ProcessEntry> processes;
    processes.reserve(ids.size());
    for (long id : ids) processes.push_back({id, executableNameOf(id)});
    return firstProcessNamed(processes, executableName);
}

// Linux executables carry no version resource.
std::string queryAppVersion() { return {}; }

}  // namespace Platform
}  // namespace ORBA
