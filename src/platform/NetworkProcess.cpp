#include "platform/NetworkProcess.h"

#include <cstdio>
#include <stdexcept>

#include "core/CLocale.h"
#include "core/Hex.h"
#include "core/Utf.h"
#include "orba/StringUtil.h"
#include "orba/misc/NetworkProcess.h"

namespace ORBA {
namespace Platform {
namespace {

// Reads the whole of `digits` as hex; -1 when it is empty, too long or holds another character.
long readHex(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) return -1;
    long value = 0;
    for (char c : digits) {
        const int digit = Core::hexDigitValue(c);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

std::string_view nextField(std::string_view& line) {
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    line.remove_prefix(start);
    const auto end = line.find_first_of(" \t");
    const std::string_view field = line.substr(0, end);
    line.remove_prefix(end == std::string_view::npos ? line.size() : end);
    return field;
}

// "12:" as the kernel numbers its rows.
bool isSlotField(std::string_view field) {
    if (field.size() < 2 || field.back() != ':') return false;
    for (std::size_t i = 0; i + 1 < field.size(); ++i) {
        if (!Core::isCDigit(field[i])) return false;
    }
    return true;
}

}  // namespace

std::string chooseAvailableTcpPort(const std::vector<std::uint16_t>& takenPorts, std::uint16_t start) {
    // One flag per port instead of a search of the list per candidate: same answer, and a busy
    // server's table of thousands of rows costs no more than a desktop's.
    std::vector<bool> taken(65536, false);
    for (std::uint16_t port : takenPorts) {
        if (port >= start) taken[port] = true;
    }
    for (std::uint32_t candidate = start; candidate <= 65535; ++candidate) {
        if (!taken[candidate]) return std::to_string(candidate);
    }
    throw std::runtime_error("not found usable port");
}

std::string formatProductVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
    char text[100];
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", (mostSignificant >> 16) & 0xFFFFu,
                                     mostSignificant & 0xFFFFu, (leastSignificant >> 16) & 0xFFFFu,
                                     leastSignificant & 0xFFFFu);
    return std::string(text, static_cast<std::size_t>(length));
}

std::vector<std::uint16_t> parseProcNetTcp(std::string_view text) {
    std::vector<std::uint16_t> ports;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        if (!isSlotField(nextField(line))) continue;  // the heading, or a damaged row
        const std::string_view local = nextField(line);
        const auto colon = local.find(':');
        if (colon == std::string_view::npos || readHex(local.substr(0, colon), 8) < 0) continue;
        const long port = readHex(local.substr(colon + 1), 4);
        if (port < 0) continue;
        ports.push_back(static_cast<std::uint16_t>(port));
    }
    return ports;
}

std::string executableNameFromLink(std::string_view linkTarget) {
    constexpr std::string_view kDeletedMark = " (deleted)";
    if (linkTarget.size() >= kDeletedMark.size() &&
        linkTarget.substr(linkTarget.size() - kDeletedMark.size()) == kDeletedMark) {
        linkTarget.remove_suffix(kDeletedMark.size());
    }
    const auto slash = linkTarget.rfind('/');
    if (slash != std::string_view::npos) linkTarget.remove_prefix(slash + 1);
    return std::string(linkTarget);
}

long firstProcessNamed(const std::vector<ProcessEntry>& processes, std::string_view executableName) {
    for (const ProcessEntry& process : processes) {
        // An empty name is one that could not be read, not one that matches an empty query.
        if (!process.executableName.empty() &&
            Core::StringUtil::isEqualCaseInSensitive(std::string_view(process.executableName),
                                                     executableName)) {
            return process.id;
        }
    }
    return 0;
}

namespace Misc {

std::string getAvailableTCPPort(std::uint16_t start) {
    const std::vector<std::uint16_t> localPorts = queryTcpLocalPorts();
    std::printf("\tNumber of entries: %d\n", static_cast<int>(localPorts.size()));
    return chooseAvailableTcpPort(localPorts, start);
}

long getProcessorID(const std::string& executableName) {
    // Checked on every OS so that an ill-formed name fails the same way everywhere.
    (void)Core::utf8ToUtf16(executableName);
    return queryProcessIdByExecutableName(executableName);
}

std::string getAppVersion() { return queryAppVersion(); }

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
