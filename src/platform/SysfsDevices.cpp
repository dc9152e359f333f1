#include "platform/SysfsDevices.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "orba/Logger.h"

namespace ORBA {
namespace Platform {
namespace {

namespace fs = std::filesystem;

// sysfs attribute files are a line each; anything longer is not one.
constexpr std::size_t kMaxAttributeBytes = 4096;

std::optional<std::string> readAttribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kMaxAttributeBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// A "0x"-prefixed hexadecimal attribute such as "0x030000".
std::optional<std::uint32_t> readHexAttribute(const fs::path& file) {
    const std::optional<std::string> text = readAttribute(file);
    if (!text || text->size() < 3 || text->size() > 10 || (*text)[0] != '0' ||
        ((*text)[1] != 'x' && (*text)[1] != 'X')) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < text->size(); ++i) {
        const char c = (*text)[i];
        std::uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
    return text;
}

// A pci.ids id field: exactly four hexadecimal digits followed by two spaces and a name.
bool parseIdLine(const std::string& line, std::size_t indent, std::uint16_t& id, std::string& name) {
    if (line.size() < indent + 7 || line.compare(indent + 4, 2, "  ") != 0) return false;
    unsigned value = 0;
    for (std::size_t i = indent; i < indent + 4; ++i) {
        const char c = line[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return false;
        value = value * 16 + digit;
    }
    id = static_cast<std::uint16_t>(value);
    name = line.substr(indent + 6);
    if (!name.empty() && name.back() == '\r') name.pop_back();
    return true;
}

}  // namespace

std::optional<std::string> readDmiProductName(const std::string& root) {
    return readAttribute(fs::path(root) / "sys/class/dmi/id/product_name");
}

std::vector<PciId> readDisplayControllers(const std::string& root) {
    const fs::path devices = fs::path(root) / "sys/bus/pci/devices";
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(devices, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    // Bus addresses sort as text ("0000:00:02.0" before "0000:01:00.0"), which is the order the
    // kernel enumerates them in.
    std::sort(entries.begin(), entries.end());

    std::vector<PciId> controllers;
    for (const fs::path& entry : entries) {
        const std::optional<std::uint32_t> deviceClass = readHexAttribute(entry / "class");
        if (!deviceClass) {
            Core::Logger::Log("PCI device " + entry.filename().string() + " has no readable class");
            continue;
        }
        if ((*deviceClass >> 16) != 0x03) continue;
        const std::optional<std::uint32_t> vendor = readHexAttribute(entry / "vendor");
        const std::optional<std::uint32_t> device = readHexAttribute(entry / "device");
        if (!vendor || !device || *vendor > 0xFFFF || *device > 0xFFFF) {
            Core::Logger::Log("Display controller " + entry.filename().string() +
                              " has no readable vendor or device id");
            continue;
        }
        controllers.push_back({static_cast<std::uint16_t>(*vendor),
                               static_cast<std::uint16_t>(*device)});
    }
    return controllers;
}

std::vector<std::string> namePciDevices(const std::vector<PciId>& ids, std::istream* database) {
    // vendor -> (vendor name, device -> device name), for the vendors asked about only.
    std::map<std::uint16_t, std::pair<std::string, std::map<std::uint16_t, std::string>>> known;
    if (database != nullptr) {
        std::map<std::uint16_t, bool> wanted;
        for (const PciId& id : ids) wanted[id.vendor] = true;
        std::string line;
        bool inWantedVendor = false;
        std::uint16_t vendor = 0;
        while (std::getline(*database, line)) {
            if (line.empty() || line[0] == '#') continue;
            if (line[0] == '\t') {
                std::uint16_t device;
                std::string name;
                // Two tabs introduce a subsystem, which no name here is made of.
                if (inWantedVendor && line.size() > 1 && line[1] != '\t' &&
                    parseIdLine(line, 1, device, name)) {
                    known[vendor].second.emplace(device, name);
                }
                continue;
            }
            // The device classes ("C 03  Display controller") follow the last vendor.
            if (line.compare(0, 2, "C ") == 0) break;
            std::string name;
            inWantedVendor = parseIdLine(line, 0, vendor, name) && wanted.count(vendor) != 0;
            if (inWantedVendor) known[vendor].first = name;
        }
    }

    std::vector<std::string> names;
    for (const PciId& id : ids) {
        const auto vendor = known.find(id.vendor);
        if (vendor == known.end()) {
            names.push_back(hex4(id.vendor) + ":" + hex4(id.device));
            continue;
        }
        const auto device = vendor->second.second.find(id.device);
        names.push_back(vendor->second.first + " " +
                        (device != vendor->second.second.end() ? device->second
                                                              : "Device " + hex4(id.device)));
    }
    return names;
}

std::string findPciIdsDatabase(const std::string& root) {
    for (const char* candidate : {"usr/share/misc/pci.ids", "usr/share/hwdata/pci.ids"}) {
        const fs::path path = fs::path(root) / candidate;
        std::error_code error;
        if (fs::is_regular_file(path, error)) return path.string();
    }
    return {};
}

}  // namespace Platform
}  // namespace ORBA
