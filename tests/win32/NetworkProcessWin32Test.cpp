// The Windows back end of the port, process and version queries, on the live system under Wine.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Utf.h"
#include "orba/misc/NetworkProcess.h"
#include "platform/win32/Win32Handles.h"

namespace {

using OwnedHandle = ORBA::Platform::KernelHandle;

class Winsock {
public:
    Winsock() { started_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~Winsock() { if (started_) WSACleanup(); }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool started() const { return started_; }

private:
    WSADATA data_{};
    bool started_ = false;
};

class Listener {
public:
    // Listens on 127.0.0.1:`port` (0 lets the system choose); port() is 0 when that failed.
    explicit Listener(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        if (socket_ == INVALID_SOCKET) return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        int size = sizeof address;
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(socket_, 1) != 0 ||
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { if (socket_ != INVALID_SOCKET) closesocket(socket_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    std::uint16_t port() const { return port_; }

private:
    SOCKET socket_;
    std::uint16_t port_ = 0;
};

std::wstring ownExecutablePath() {
    wchar_t path[1024];
    const DWORD length = GetModuleFileNameW(nullptr, path, 1024);
    return std::wstring(path, length);
}

std::string toUtf8(const std::wstring& text) {
    return ORBA::Core::utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// Runs `path` and returns what it wrote to its standard output.
std::string outputOf(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "no pipe";
    OwnedHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return "not started: " + std::to_string(GetLastError());
    }
    OwnedHandle child(process.hProcess), thread(process.hThread);
    writer.reset();  // the child holds the only write end now, so reading ends when it exits

    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) output.append(buffer, read);
    WaitForSingleObject(process.hProcess, 10000);
    // The C runtime writes text-mode line ends into the pipe.
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
    return output;
}

TEST(NetworkProcessWin32Test, SkipsPortsThatListenersHold) {
    Winsock winsock;
    ASSERT_TRUE(winsock.started());
    Listener first(0);
    ASSERT_NE(first.port(), 0);
    const std::uint16_t start = first.port();
    Listener second(static_cast<std::uint16_t>(start + 1));  // may be taken already

    testing::internal::CaptureStdout();
    const std::string port = ORBA::Platform::Misc::getAvailableTCPPort(start);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_GT(std::stoul(port), second.port() != 0 ? start + 1u : start);
    EXPECT_EQ(printed.rfind("\tNumber of entries: ", 0), 0u) << printed;
    EXPECT_EQ(printed.back(), '\n');
}

TEST(NetworkProcessWin32Test, FindsItsOwnProcessByNameInAnyCase) {
    const std::wstring path = ownExecutablePath();
    const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    std::wstring upper = name, lower = name;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    const long self = static_cast<long>(GetCurrentProcessId());

    EXPECT_EQ(ORBA::Platform::Misc::getProcessorID(toUtf8(upper)), self);
    EXPECT_EQ(ORBA::Platform::Misc::getProcessorID(toUtf8(lower)), self);
    EXPECT_EQ(ORBA::Platform::Misc::getProcessorID(toUtf8(name.substr(0, name.rfind(L'.')))), 0);
    EXPECT_EQ(ORBA::Platform::Misc::getProcessorID(toUtf8(path)), 0);
    EXPECT_EQ(ORBA::Platform::Misc::getProcessorID("no-such-program.exe"), 0);
}

TEST(NetworkProcessWin32Test, ReadsTheProductVersionOfTheRunningExecutable) {
    // This test program carries no version resource.
    EXPECT_EQ(ORBA::Platform::Misc::getAppVersion(), "");

    const std::wstring path = ownExecutablePath();
    const std::wstring helper = path.substr(0, path.find_last_of(L"\\/") + 1) + L"orba_versioned_app.exe";
    EXPECT_EQ(outputOf(helper), "[1.2.3.4]\n");
}

}  // namespace
