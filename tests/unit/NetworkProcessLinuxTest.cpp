// The Linux back end of the port, process and version queries, on captured tables and on the
// live system.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orba/misc/NetworkProcess.h"
#include "platform/NetworkProcess.h"
#include "platform/posix/ProcTcpTable.h"

using namespace ORBA::Platform;

namespace {

const std::string kFixtures = ORBA_FIXTURE_DIR;

std::string ownExecutableName() {
    char target[4096];
    const ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
    if (length <= 0) return {};
    return executableNameFromLink(std::string(target, static_cast<std::size_t>(length)));
}

std::string withCaseSwapped(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(std::islower(u) ? std::toupper(u) : std::tolower(u));
    }
    return text;
}

TEST(NetworkProcessLinuxTest, ReadsEveryRowOfACapturedTable) {
    const std::vector<std::uint16_t> ports = readTcpLocalPortsFromFile(kFixtures + "/proc-net-tcp-desktop.txt");
    EXPECT_EQ(ports, (std::vector<std::uint16_t>{2024, 8080, 8081, 50000, 8083, 8080}));
    EXPECT_EQ(chooseAvailableTcpPort(ports, 8080), "8082");
    EXPECT_TRUE(readTcpLocalPortsFromFile(kFixtures + "/proc-net-tcp-empty.txt").empty());

    try {
        readTcpLocalPortsFromFile(kFixtures + "/no-such-table.txt");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "\tGetTcpTable failed with 2\n");
    }
}

TEST(NetworkProcessLinuxTest, SkipsAPortThatAListenerHolds) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::uint16_t taken = ntohs(address.sin_port);

    testing::internal::CaptureStdout();
    const std::string port = ORBA::Platform::Misc::getAvailableTCPPort(taken);
    const std::string printed = testing::internal::GetCapturedStdout();
    close(listener);

    EXPECT_GT(std::stoul(port), taken);
    EXPECT_EQ(printed.rfind("\tNumber of entries: ", 0), 0u) << printed;
    EXPECT_EQ(printed.back(), '\n');
}

// Other test runs on the machine may share this binary's name, so the process looked up is a
// child running a copy of sleep under a name of its own.
TEST(NetworkProcessLinuxTest, FindsAProcessByItsNameInAnyCase) {
    // Beside the test binary rather than in /tmp, which may forbid running programs.
    char self[4096];
    const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(selfLength, 0);
    std::string pattern = std::filesystem::path(std::string(self, static_cast<std::size_t>(selfLength)))
                              .parent_path() / "orba-lookup-XXXXXX";
    char* folder = mkdtemp(&pattern[0]);
    ASSERT_NE(folder, nullptr);
    const std::string name = "Orba-Lookup-" + std::to_string(getpid()) + ".Bin";
    const std::string path = std::string(folder) + "/" + name;
    std::filesystem::copy_file("/bin/sleep", path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(path.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    long found = 0;
    for (int attempt = 0; attempt < 200 && found == 0; ++attempt) {
        found = ORBA::Platform::Misc::getProcessorID(withCaseSwapped(name));
        if (found == 0) usleep(10000);
    }
    const long lowerCase = ORBA::Platform::Misc::getProcessorID("orba-lookup-" + std::to_string(getpid()) + ".bin");
    const long withoutExtension = ORBA::Platform::Misc::getProcessorID("Orba-Lookup-" + std::to_string(getpid()));
    const long withFolder = ORBA::Platform::Misc::getProcessorID(path);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::filesystem::remove_all(folder);

    EXPECT_EQ(found, static_cast<long>(child));
    EXPECT_EQ(lowerCase, static_cast<long>(child));
    EXPECT_EQ(withoutExtension, 0);
    EXPECT_EQ(withFolder, 0);
    EXPECT_EQ(ORBA::Platform::Misc::getProcessorID("no-such-program-" + name), 0);
    EXPECT_EQ(ORBA::Platform::Misc::getProcessorID(""), 0);
}

TEST(NetworkProcessLinuxTest, FindsItsOwnExecutableName) {
    // Only that some process of this name runs: another run of these tests may come first.
    const std::string name = ownExecutableName();
    ASSERT_FALSE(name.empty());
    EXPECT_NE(ORBA::Platform::Misc::getProcessorID(withCaseSwapped(name)), 0);
}

TEST(NetworkProcessLinuxTest, ExecutablesHaveNoVersion) {
    EXPECT_EQ(ORBA::Platform::Misc::getAppVersion(), "");
}

}  // namespace
