#include "platform/SysfsDevices.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "orba/Logger.h"
#include "support/DebugOutputCapture.h"

namespace ORBA {
namespace Platform {
namespace {

const std::string kLaptop = ORBA_FIXTURE_DIR "/device-laptop";
const std::string kVm = ORBA_FIXTURE_DIR "/device-vm";
const std::string kBroken = ORBA_FIXTURE_DIR "/device-broken";

using Names = std::vector<std::string>;

std::string ids(const std::vector<PciId>& controllers) {
    std::string text;
    for (const PciId& id : controllers) {
        text += std::to_string(id.vendor) + ":" + std::to_string(id.device) + " ";
    }
    return text;
}

TEST(SysfsDevicesTest, LaptopWithTwoAdaptersAndDatabase) {
    EXPECT_EQ(readDmiProductName(kLaptop), "XPS 15 9570");
    const std::vector<PciId> controllers = readDisplayControllers(kLaptop);
    // 8086:3e9b (VGA, 0x0300) and 10de:1c8c (3D, 0x0302); bridge, audio and disk are not adapters.
    EXPECT_EQ(ids(controllers), "32902:16027 4318:7308 ");

    const std::string database = findPciIdsDatabase(kLaptop);
    EXPECT_EQ(database, kLaptop + "/usr/share/hwdata/pci.ids");
    std::ifstream in(database);
    EXPECT_EQ(namePciDevices(controllers, &in),
              (Names{"Intel Corporation CoffeeLake-H GT2 [UHD Graphics 630]",
                     "NVIDIA Corporation GP107M [GeForce GTX 1050 Ti Mobile]"}));
    EXPECT_EQ(namePciDevices(controllers, nullptr), (Names{"8086:3e9b", "10de:1c8c"}));
}

TEST(SysfsDevicesTest, MachineWithoutDmiOrDisplayController) {
    EXPECT_EQ(readDmiProductName(kVm), std::nullopt);
    EXPECT_TRUE(readDisplayControllers(kVm).empty());
    EXPECT_EQ(findPciIdsDatabase(kVm), "");
    EXPECT_TRUE(readDisplayControllers(kVm + "/missing").empty());
}

TEST(SysfsDevicesTest, UnreadableDevicesAreSkippedWithALogLine) {
    Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    OrbaTest::DebugOutputCapture capture;
    const std::vector<PciId> controllers = readDisplayControllers(kBroken);
    EXPECT_EQ(capture.finish(),
              "PCI device 0000:00:02.0 has no readable class\n"
              "Display controller 0000:00:03.0 has no readable vendor or device id\n");
    Core::Logger::LogSetting::setUseOrbaCoreLog(false);
    EXPECT_EQ(ids(controllers), "6966:256 ");
    // No newline at the end of the file: nothing is cut.
    EXPECT_EQ(readDmiProductName(kBroken), "Standard PC (Q35 + ICH9, 2009)");
}

TEST(SysfsDevicesTest, DatabaseLookupKeepsToVendorAndDeviceLines) {
    std::ifstream laptopDatabase(kLaptop + "/usr/share/hwdata/pci.ids");
    std::stringstream database;
    database << laptopDatabase.rdbuf();
    // 10de:1028 is only a subsystem line of 1c8c; 1234 appears only inside the class list;
    // 1b36:0100 is a vendor the database knows without that device.
    const std::vector<PciId> asked{{0x10de, 0x1028}, {0x1234, 0x0001}, {0x1b36, 0x0100},
                                   {0x8086, 0x3e92}};
    EXPECT_EQ(namePciDevices(asked, &database),
              (Names{"NVIDIA Corporation Device 1028", "1234:0001", "Red Hat, Inc. Device 0100",
                     "Intel Corporation CoffeeLake-S GT2 [UHD Graphics 630]"}));

    std::istringstream windowsLineEnds("abcd  Vendor\r\n\t0001  Card\r\n");
    EXPECT_EQ(namePciDevices({{0xabcd, 0x0001}}, &windowsLineEnds), (Names{"Vendor Card"}));
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
