// The port, process and version queries: what each OS back end reads, and the portable decisions
// taken on what was read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ORBA {
namespace Platform {

// --- Implemented once per OS -------------------------------------------------------------------

// Local ports of every row of the IPv4 TCP table, in table order. Throws std::runtime_error with
// the texts that getAvailableTCPPort documents when the table cannot be read.
std::vector<std::uint16_t> queryTcpLocalPorts();

// Id of the first process, in the system's listing order, whose executable file name equals
// `executableName` (well-formed UTF-8) with ASCII case ignored; 0 when none does.
long queryProcessIdByExecutableName(const std::string& executableName);

// Product version of the process's executable, formatted by formatProductVersion; empty when
// there is none.
std::string queryAppVersion();

// --- Portable, tested on every host -------------------------------------------------------------

// First port from `start` to 65535 that is not in `takenPorts`, in plain decimal. Throws
// std::runtime_error("not found usable port") when there is none.
std::string chooseAvailableTcpPort(const std::vector<std::uint16_t>& takenPorts, std::uint16_t start);

// "%u.%u.%u.%u" of the high and low words of `mostSignificant`, then of `leastSignificant`.
std::string formatProductVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant);

// The local ports of the rows of a /proc/net/tcp text, in row order. The heading and any row
// whose slot and local address cannot be read are skipped.
std::vector<std::uint16_t> parseProcNetTcp(std::string_view text);

// The file name of an executable from the target of a /proc/<pid>/exe link: the part after the
// last "/", without the " (deleted)" mark the kernel adds once the file is gone.
std::string executableNameFromLink(std::string_view linkTarget);

struct ProcessEntry {
    long id;
    std::string executableName;
};

// Id of the first entry whose name equals `executableName` with ASCII case ignored; 0 if none.
// Entries with an empty name (unreadable) never match.
long firstProcessNamed(const std::vector<ProcessEntry>& processes, std::string_view executableName);

}  // namespace Platform
}  // namespace ORBA
