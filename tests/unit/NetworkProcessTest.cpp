// The portable decisions behind the port, process and version queries, on captured inputs.
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orba/misc/NetworkProcess.h"
#include "platform/NetworkProcess.h"

using namespace ORBA::Platform;

namespace {

std::string runtimeErrorOf(const std::vector<std::uint16_t>& taken, std::uint16_t start) {
    try {
        chooseAvailableTcpPort(taken, start);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(NetworkProcessTest, ChoosesTheFirstPortNotTakenFromStart) {
    const std::vector<std::uint16_t> taken = {8081, 443, 8080, 8080};
    EXPECT_EQ(chooseAvailableTcpPort(taken, 8080), "8082");
    EXPECT_EQ(chooseAvailableTcpPort(taken, 8082), "8082");
    EXPECT_EQ(chooseAvailableTcpPort(taken, 443), "444");
    EXPECT_EQ(chooseAvailableTcpPort(taken, 442), "442");
    EXPECT_EQ(chooseAvailableTcpPort({}, 0), "0");
    EXPECT_EQ(chooseAvailableTcpPort({0, 1}, 0), "2");
    EXPECT_EQ(chooseAvailableTcpPort({65534}, 65534), "65535");
    EXPECT_EQ(runtimeErrorOf({65535}, 65535), "not found usable port");
    EXPECT_EQ(runtimeErrorOf({65534, 65535, 1}, 65534), "not found usable port");
}

TEST(NetworkProcessTest, FormatsTheProductVersionWordByWord) {
    EXPECT_EQ(formatProductVersion(0x00010002, 0x00030004), "1.2.3.4");
    EXPECT_EQ(formatProductVersion(0, 0), "0.0.0.0");
    EXPECT_EQ(formatProductVersion(0xFFFFFFFF, 0xFFFF0000), "65535.65535.65535.0");
}

TEST(NetworkProcessTest, ReadsLocalPortsOfEveryRowOfAProcTcpText) {
    const std::string text =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0\n"
        "   1: 0100007F:c350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1000\n"
        "  12: 00000000:0000 00000000:0000 07\n"
        "   3: 0100007F:1F9G 00000000:0000 0A\n"  // not a hex port
        "   4: 0100007F:11F90 00000000:0000 0A\n" // too many digits for a port
        "   5: 0100007F\n"                        // cut short
        "junk: 0100007F:0050\n"
        "\n"
        "\t6: 0100007F:FFFF 00000000:0000 0A";    // last row without a line break
    EXPECT_EQ(parseProcNetTcp(text), (std::vector<std::uint16_t>{8080, 50000, 0, 65535}));
    EXPECT_TRUE(parseProcNetTcp("").empty());
}

TEST(NetworkProcessTest, NamesTheExecutableFromItsLink) {
    EXPECT_EQ(executableNameFromLink("/usr/bin/Game.x86_64"), "Game.x86_64");
    EXPECT_EQ(executableNameFromLink("/opt/game/run (deleted)"), "run");
    EXPECT_EQ(executableNameFromLink("/opt/my game/run me"), "run me");
    EXPECT_EQ(executableNameFromLink("bare"), "bare");
}

TEST(NetworkProcessTest, FindsTheFirstProcessByNameWithAsciiCaseIgnored) {
    const std::vector<ProcessEntry> processes = {
        {4, ""}, {10, "explorer.exe"}, {20, "Game.exe"}, {30, "game.exe"}, {40, "\xC3\x89t\xC3\xA9.exe"}};
    EXPECT_EQ(firstProcessNamed(processes, "GAME.EXE"), 20);
    EXPECT_EQ(firstProcessNamed(processes, "game.exe"), 20);
    EXPECT_EQ(firstProcessNamed(processes, "game"), 0);
    EXPECT_EQ(firstProcessNamed(processes, "C:\\Games\\game.exe"), 0);
    EXPECT_EQ(firstProcessNamed(processes, ""), 0);
    EXPECT_EQ(firstProcessNamed(processes, "\xC3\x89t\xC3\xA9.EXE"), 40);
}

TEST(NetworkProcessTest, RefusesAnIllFormedProcessName) {
    try {
        ORBA::Platform::Misc::getProcessorID("game\xFF.exe");
        FAIL() << "no error";
    } catch (const std::range_error& error) {
        EXPECT_STREQ(error.what(), "bad conversion");
    }
}

}  // namespace
