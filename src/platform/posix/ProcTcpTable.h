// The Linux source of the IPv4 TCP table, readable from any path so that captured tables can
// stand in for the live one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ORBA {
namespace Platform {

// The live table.
constexpr const char* kProcNetTcpPath = "/proc/net/tcp";

// Local ports of every row of the table at `path`, in row order. Throws std::runtime_error
// "\tGetTcpTable failed with <errno>\n" when the file cannot be read, the same text the Windows
// back end gives for an unreadable table.
std::vector<std::uint16_t> readTcpLocalPortsFromFile(const std::string& path);

}  // namespace Platform
}  // namespace ORBA
