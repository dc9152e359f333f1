// The window functions against real top-level windows (run under a display).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "orba/misc/WindowMessaging.h"
#include "platform/MainWindow.h"

namespace {

using ORBA::Platform::Misc::getIsLandscapeWindow;
using ORBA::Platform::Misc::getWindowHeight;
using ORBA::Platform::Misc::getWindowWidth;

const wchar_t kClassName[] = L"OrbaMainWindowTest";

void registerClassOnce() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        return RegisterClassW(&windowClass) != 0;
    }();
    ASSERT_TRUE(registered);
}

class TestWindow {
public:
    TestWindow(DWORD style, HWND owner = nullptr) {
        registerClassOnce();
        window_ = CreateWindowExW(0, kClassName, L"test", style, 10, 10, 200, 100, owner, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    }
    ~TestWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND handle() const { return window_; }

    // Sizes the window so that its client area is exactly width by height, and shows it.
    void showWithClientSize(int width, int height) {
        RECT frame{0, 0, width, height};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
        SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
    }

    RECT client() const {
        RECT area{};
        GetClientRect(window_, &area);
        return area;
    }

private:
    HWND window_ = nullptr;
};

TEST(MainWindowWin32Test, NoVisibleWindowMeansZeroSize) {
    EXPECT_EQ(getWindowWidth(), 0u);
    EXPECT_EQ(getWindowHeight(), 0u);
    EXPECT_FALSE(getIsLandscapeWindow());

    TestWindow hidden(WS_OVERLAPPEDWINDOW);
    ASSERT_NE(hidden.handle(), nullptr) << "no display?";
    EXPECT_EQ(getWindowWidth(), 0u);
    EXPECT_EQ(getWindowHeight(), 0u);
}

TEST(MainWindowWin32Test, MeasuresTheClientAreaOfTheMainWindow) {
    // A fixed-frame game window: a sizing frame would let the system cap it at the screen's size,
    // and the virtual screen is lower than 1280.
    TestWindow main(WS_POPUP | WS_CAPTION | WS_SYSMENU);
    ASSERT_NE(main.handle(), nullptr) << "no display?";

    main.showWithClientSize(1280, 720);
    ASSERT_EQ(main.client().right, 1280);
    ASSERT_EQ(main.client().bottom, 720);
    EXPECT_EQ(getWindowWidth(), 1280u);
    EXPECT_EQ(getWindowHeight(), 720u);
    EXPECT_TRUE(getIsLandscapeWindow());

    main.showWithClientSize(720, 1280);
    ASSERT_EQ(main.client().right, 720);
    ASSERT_EQ(main.client().bottom, 1280);
    EXPECT_EQ(getWindowWidth(), 720u);
    EXPECT_EQ(getWindowHeight(), 1280u);
    EXPECT_FALSE(getIsLandscapeWindow());

    main.showWithClientSize(800, 800);
    EXPECT_EQ(getWindowWidth(), 800u);
    EXPECT_EQ(getWindowHeight(), 800u);
    EXPECT_FALSE(getIsLandscapeWindow());
}

TEST(MainWindowWin32Test, MinimisedMainWindowMeasuresZero) {
    TestWindow main(WS_OVERLAPPEDWINDOW);
    ASSERT_NE(main.handle(), nullptr) << "no display?";
    main.showWithClientSize(1280, 720);
    ShowWindow(main.handle(), SW_MINIMIZE);
    ASSERT_TRUE(IsWindowVisible(main.handle()));
    EXPECT_EQ(getWindowWidth(), 0u);
    EXPECT_EQ(getWindowHeight(), 0u);
    EXPECT_FALSE(getIsLandscapeWindow());
}

TEST(MainWindowWin32Test, OwnedDialogAboveTheMainWindowIsPassedOver) {
    TestWindow main(WS_OVERLAPPEDWINDOW);
    ASSERT_NE(main.handle(), nullptr) << "no display?";
    main.showWithClientSize(1280, 720);
    TestWindow dialog(WS_POPUP | WS_CAPTION, main.handle());
    ASSERT_NE(dialog.handle(), nullptr);
    dialog.showWithClientSize(300, 400);

    // The dialog must come first in the walk for this to test anything.
    const auto windows = ORBA::Platform::listTopLevelWindows();
    const auto position = [&windows](HWND window) {
        return std::find_if(windows.begin(), windows.end(), [window](const auto& entry) {
            return entry.handle == reinterpret_cast<std::uintptr_t>(window);
        });
    };
    ASSERT_NE(position(dialog.handle()), windows.end());
    ASSERT_LT(position(dialog.handle()), position(main.handle()));

    EXPECT_EQ(getWindowWidth(), 1280u);
    EXPECT_EQ(getWindowHeight(), 720u);
    EXPECT_TRUE(getIsLandscapeWindow());
}

}  // namespace
