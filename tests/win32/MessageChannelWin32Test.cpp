// The channel over WM_COPYDATA between threads of a host process, and the hook's removal at
// unload.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SharedLibrary.h"
#include "orba/misc/WindowMessaging.h"
#include "support/DebugOutputCapture.h"

namespace {

const std::string kInstalled =
    "################       g_ORBAWndHook is NULL ##############################\n";
const std::string kReceived =
    "################   Copy Data Called ##############################\n";

std::string record(char tag, const std::string& text) {
    return std::string(1, tag) + ":" + std::to_string(text.size()) + ":" + text + "\n";
}

LRESULT sendCopyData(HWND window, ULONG_PTR dwData, DWORD size, const void* data) {
    COPYDATASTRUCT copyData{};
    copyData.dwData = dwData;
    copyData.cbData = size;
    copyData.lpData = const_cast<void*>(data);
    return SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copyData));
}

// Starts orba_ipc_peer.exe (beside this program) with `argument`, its standard output on a pipe
// whose read end goes to `readEnd`; an explanation when it could not start.
std::string startPeer(const std::string& argument, HANDLE& readEnd, PROCESS_INFORMATION& process) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return "CreatePipe failed";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string command = "\"" + OrbaTools::executableFolder() + "orba_ipc_peer.exe\" " + argument;
    const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process) != FALSE;
    CloseHandle(writeEnd);
    if (started) return {};
    CloseHandle(readEnd);
    return "CreateProcess failed";
}

// Runs orba_ipc_peer.exe to its end and returns what it wrote, or an explanation when it did not
// end well.
std::string runPeer() {
    HANDLE readEnd = nullptr;
    PROCESS_INFORMATION process{};
    const std::string failure = startPeer("", readEnd, process);
    if (!failure.empty()) return failure;
    // Read while it runs: a full pipe would stop the peer in the middle of a callback.
    std::string output;
    std::thread reader([&] {
        char buffer[4096];
        DWORD count = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            output.append(buffer, count);
        }
    });
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &code);
    reader.join();
    CloseHandle(readEnd);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (code != 0) output += "[exit code " + std::to_string(code) + "]";
    return output;
}

TEST(MessageChannelWin32Test, TextsReachTheFirstCallbackOnTheHookedThreadOnly) {
    OrbaTest::DebugOutputCapture capture;
    std::string output = runPeer();
    const std::string longest(9999, 'x');
    // Keeps a failure message readable.
    const auto at = output.find(longest);
    if (at != std::string::npos) output.replace(at, longest.size(), "<9999 x>");

    EXPECT_EQ(output, record('A', "hello") + "W\n" + record('A', "cut") + "W\n" +
                          "A:9999:<9999 x>\nW\n" + record('A', "") + "W\n" + record('A', "throw") +
                          "W\n" + record('A', "hello") + "W\n" + record('A', "") + "W\n" + "M\n");
    EXPECT_EQ(capture.finish(), kInstalled + kReceived + kReceived + kReceived + kReceived +
                                    kReceived + "ipc callback threw: boom\n" + kReceived +
                                    kReceived);
}

TEST(MessageChannelWin32Test, SendToAWindowThatStoppedTakingMessagesGivesUp) {
    HANDLE readEnd = nullptr;
    PROCESS_INFORMATION process{};
    ASSERT_EQ(startPeer("stall", readEnd, process), "");
    char ready[6] = {};
    DWORD count = 0;
    const bool started = ReadFile(readEnd, ready, sizeof ready, &count, nullptr) &&
                         std::string(ready, count) == "ready\n";
    OrbaTest::DebugOutputCapture capture;
    const ULONGLONG start = GetTickCount64();
    if (started) ORBA::Platform::Misc::ipcSend(std::to_string(process.dwProcessId), "hello");
    const ULONGLONG waited = GetTickCount64() - start;
    const std::string output = capture.finish();
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(readEnd);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    ASSERT_TRUE(started);
    EXPECT_LT(waited, 15000u);
    EXPECT_EQ(output, "ipcSend: process " + std::to_string(process.dwProcessId) +
                          " did not take the message within 5000 ms; not delivered\n");
}

TEST(MessageChannelWin32Test, UnloadingTheLibraryRemovesItsHook) {
    using OpenFn = void (*)(std::function<void(std::string)>);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrbaUnloadTest";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                  100, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr) << "no display?";

    std::vector<std::string> received;
    {
        OrbaTools::SharedLibrary library(OrbaTools::executableFolder() +
                                         OrbaTools::trackerLibraryFileName());
        ASSERT_TRUE(library.loaded()) << library.error();
        auto open = reinterpret_cast<OpenFn>(library.symbol(
            "_ZN4ORBA8Platform4Misc7ipcOpenESt8functionIFvNSt7__cxx1112basic_stringIcSt11char_"
            "traitsIcESaIcEEEEE"));
        ASSERT_NE(open, nullptr);
        OrbaTest::DebugOutputCapture capture;
        open([&received](std::string text) { received.push_back(std::move(text)); });
        sendCopyData(window, 0, 5, "ping");
        EXPECT_EQ(received, std::vector<std::string>{"ping"});
        EXPECT_EQ(capture.finish(), kInstalled + kReceived);
    }
    ASSERT_EQ(GetModuleHandleA("OrbaTracker.dll"), nullptr);
    // With the hook left in place this would jump into the unloaded library.
    sendCopyData(window, 0, 6, "after");
    EXPECT_EQ(received, std::vector<std::string>{"ping"});
    DestroyWindow(window);
}

}  // namespace
