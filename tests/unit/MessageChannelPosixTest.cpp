// The Linux channel end to end: a forked receiver, and the built library loaded and unloaded.
// The test process itself never opens the channel, so every child starts without a receiver.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "SharedLibrary.h"
#include "orba/misc/WindowMessaging.h"
#include "support/DebugOutputCapture.h"

namespace {

using ORBA::Platform::Misc::ipcOpen;
using ORBA::Platform::Misc::ipcSend;

const std::string kInstalled =
    "################       g_ORBAWndHook is NULL ##############################\n";
const std::string kReceived =
    "################   Copy Data Called ##############################\n";

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read >= 0) ::close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
};

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// Reads from `fd` into `text` until `done` holds or ten seconds pass; false on time-out.
bool readUntil(int fd, std::string& text, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return done();
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// Waits up to ten seconds for the child to end; kills it and returns -1 when it does not.
int waitForExit(pid_t child) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

std::string record(char tag, const std::string& text) {
    return std::string(1, tag) + ":" + std::to_string(text.size()) + ":" + text + "\n";
}

bool receiverReachable(pid_t process) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "orba-ipc-" + std::to_string(process);
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const bool reachable = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(fd);
    return reachable;
}

std::size_t threadCount() {
    std::size_t count = 0;
    DIR* tasks = ::opendir("/proc/self/task");
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(tasks);
    return count;
}

TEST(MessageChannelPosixTest, ForkedReceiverGetsTextsThroughTheFirstCallbackOnly) {
    Pipe ready, results, errors, release;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(errors.write, STDERR_FILENO);
        release.closeWrite();  // else the child would wait for itself
        const int out = results.write;
        ipcOpen([out](std::string text) {
            writeAll(out, record('A', text));
            if (text == "throw") throw std::runtime_error("boom");
        });
        ipcOpen([out](std::string text) { writeAll(out, record('B', text)); });
        writeAll(ready.write, "R");
        char byte;
        while (::read(release.read, &byte, 1) > 0) {
        }
        // A normal exit runs the library's static destructors, which stop the receiver thread.
        std::exit(0);
    }
    errors.closeWrite();
    results.closeWrite();
    ready.closeWrite();
    release.closeRead();

    std::string readiness;
    ASSERT_TRUE(readUntil(ready.read, readiness, [&] { return !readiness.empty(); }));
    const std::string id = std::to_string(child);
    const std::string longest(9999, 'x');
    ipcSend(id, "hello");
    ipcSend(id, std::string("cut\0here", 8));
    ipcSend(id, longest);
    ipcSend(id, std::string(10000, 'y'));
    ipcSend(id, "");
    ipcSend(id, "throw");
    ipcSend(" +" + id + "abc", "last");

    const std::string expected = record('A', "hello") + record('A', "cut") + record('A', longest) +
                                 record('A', "") + record('A', "throw") + record('A', "last");
    std::string received;
    EXPECT_TRUE(
        readUntil(results.read, received, [&] { return received.size() >= expected.size(); }));
    EXPECT_EQ(received, expected);

    release.closeWrite();
    EXPECT_EQ(waitForExit(child), 0);
    std::string debug;
    readUntil(errors.read, debug, [] { return false; });
    EXPECT_EQ(debug, kInstalled + kReceived + kReceived + kReceived + kReceived + kReceived +
                         "ipc callback threw: boom\n" + kReceived);
    EXPECT_FALSE(receiverReachable(child));
}

TEST(MessageChannelPosixTest, TextsToAProcessWithoutReceiverAreDroppedQuietly) {
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) ::_exit(0);
    ASSERT_EQ(waitForExit(gone), 0);

    OrbaTest::DebugOutputCapture capture;
    ipcSend(std::to_string(gone), "nobody");
    ipcSend(std::to_string(::getpid()), "not opened here");
    EXPECT_EQ(capture.finish(), "");
}

TEST(MessageChannelPosixTest, WindowFunctionsReportNoWindow) {
    EXPECT_EQ(ORBA::Platform::Misc::getWindowWidth(), 0u);
    EXPECT_EQ(ORBA::Platform::Misc::getWindowHeight(), 0u);
    EXPECT_FALSE(ORBA::Platform::Misc::getIsLandscapeWindow());
}

TEST(MessageChannelPosixTest, UnloadingTheLibraryStopsItsReceiver) {
    using OpenFn = void (*)(std::function<void(std::string)>);
    using SendFn = void (*)(const std::string&, const std::string&);
    const std::size_t threadsBefore = threadCount();
    std::mutex mutex;
    std::condition_variable arrived;
    std::string text;
    OrbaTest::DebugOutputCapture capture;
    {
        OrbaTools::SharedLibrary library(OrbaTools::executableFolder() +
                                         OrbaTools::trackerLibraryFileName());
        ASSERT_TRUE(library.loaded()) << library.error();
        auto open = reinterpret_cast<OpenFn>(library.symbol(
            "_ZN4ORBA8Platform4Misc7ipcOpenESt8functionIFvNSt7__cxx1112basic_stringIcSt11char_"
            "traitsIcESaIcEEEEE"));
        auto send = reinterpret_cast<SendFn>(
            library.symbol("_ZN4ORBA8Platform4Misc7ipcSendERKNSt7__cxx1112basic_stringIcSt11char_"
                           "traitsIcESaIcEEES9_"));
        ASSERT_NE(open, nullptr);
        ASSERT_NE(send, nullptr);
        open([&](std::string received) {
            std::lock_guard<std::mutex> lock(mutex);
            text = std::move(received);
            arrived.notify_one();
        });
        EXPECT_EQ(threadCount(), threadsBefore + 1);
        EXPECT_TRUE(receiverReachable(::getpid()));
        send(std::to_string(::getpid()), "ping");
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(
            arrived.wait_for(lock, std::chrono::seconds(10), [&] { return !text.empty(); }));
        EXPECT_EQ(text, "ping");
    }
    EXPECT_EQ(threadCount(), threadsBefore);
    EXPECT_FALSE(receiverReachable(::getpid()));
    EXPECT_EQ(capture.finish(), kInstalled + kReceived);
}

}  // namespace
