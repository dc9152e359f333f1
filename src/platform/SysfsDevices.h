// The computer model and the graphics adapters as Linux describes them under /sys, named from
// the pci.ids database. Every reader takes the root of the tree, so that captured trees stand in
// for the machine's.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace ORBA {
namespace Platform {

struct PciId {
    std::uint16_t vendor = 0;
    std::uint16_t device = 0;
};

// The DMI product name (root/sys/class/dmi/id/product_name) without its trailing newline;
// nullopt when the file is absent or unreadable.
std::optional<std::string> readDmiProductName(const std::string& root);

// The PCI display controllers (class 0x03xxxx) under root/sys/bus/pci/devices, in the order of
// their bus addresses. Devices whose class, vendor or device file is unreadable are skipped with
// a log line.
std::vector<PciId> readDisplayControllers(const std::string& root);

// Names each id from a pci.ids database: "<vendor name> <device name>", "<vendor name> Device
// dddd" for a device the database does not list, and "vvvv:dddd" (lower-case hexadecimal) for an
// unknown vendor or when `database` is null.
std::vector<std::string> namePciDevices(const std::vector<PciId>& ids, std::istream* database);

// The first of the system's pci.ids files that exists under root, or empty.
std::string findPciIdsDatabase(const std::string& root);

}  // namespace Platform
}  // namespace ORBA
