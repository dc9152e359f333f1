#include <gtest/gtest.h>

#include "platform/MainWindow.h"

namespace {

using ORBA::Platform::ClientSize;
using ORBA::Platform::TopLevelWindow;

constexpr std::uint32_t kGame = 4242;
constexpr std::uint32_t kOther = 77;

TopLevelWindow window(std::uintptr_t handle, std::uint32_t processId, bool owned, bool visible) {
    TopLevelWindow entry;
    entry.handle = handle;
    entry.processId = processId;
    entry.owned = owned;
    entry.visible = visible;
    return entry;
}

// A desktop as EnumWindows lists it, topmost first: the game's dialog above its main window.
const std::vector<TopLevelWindow> kDesktop = {
    window(1, kOther, false, true),  // another program's window
    window(2, kGame, true, true),    // the game's dialog, owned by its main window
    window(3, kGame, false, false),  // a hidden helper window
    window(4, kGame, false, true),   // the main window
    window(5, kGame, false, true),   // a second unowned window, further down
};

TEST(MainWindowTest, MainWindowIsTheFirstVisibleUnownedWindowOfTheProcess) {
    ASSERT_NE(ORBA::Platform::mainWindowSearch(kDesktop, kGame), nullptr);
    EXPECT_EQ(ORBA::Platform::mainWindowSearch(kDesktop, kGame)->handle, 4u);
    EXPECT_EQ(ORBA::Platform::mainWindowSearch(kDesktop, kOther)->handle, 1u);
    EXPECT_EQ(ORBA::Platform::mainWindowSearch(kDesktop, 9), nullptr);
    EXPECT_EQ(ORBA::Platform::mainWindowSearch(
                  {window(2, kGame, true, true), window(3, kGame, false, false)}, kGame),
              nullptr);
}

TEST(MainWindowTest, SendingAddressesTheProcesssFirstWindowWhateverItIs) {
    EXPECT_EQ(ORBA::Platform::processWindowSearch(kDesktop, kGame)->handle, 2u);
    EXPECT_EQ(ORBA::Platform::processWindowSearch(kDesktop, 9), nullptr);
    EXPECT_EQ(ORBA::Platform::processWindowSearch({}, kGame), nullptr);
}

TEST(MainWindowTest, ClientSizeIsReadOnlyForTheMainWindowAndZeroWithoutOne) {
    std::vector<std::uintptr_t> asked;
    auto reader = [&asked](std::uintptr_t handle, ClientSize& size) {
        asked.push_back(handle);
        size.width = 1280;
        size.height = 720;
        return true;
    };
    const ClientSize found = ORBA::Platform::mainWindowClientSize(kDesktop, kGame, reader);
    EXPECT_EQ(found.width, 1280);
    EXPECT_EQ(found.height, 720);
    EXPECT_EQ(asked, std::vector<std::uintptr_t>{4});

    asked.clear();
    const ClientSize none = ORBA::Platform::mainWindowClientSize(kDesktop, 9, reader);
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.height, 0);
    EXPECT_TRUE(asked.empty());

    // A window that closes between the walk and the read.
    auto failing = [](std::uintptr_t, ClientSize& size) {
        size.width = 99;
        return false;
    };
    const ClientSize gone = ORBA::Platform::mainWindowClientSize(kDesktop, kGame, failing);
    EXPECT_EQ(gone.width, 0);
    EXPECT_EQ(gone.height, 0);
}

TEST(MainWindowTest, LandscapeOnlyWhenWiderThanHigh) {
    EXPECT_TRUE(ORBA::Platform::isLandscape({1280, 720}));
    EXPECT_FALSE(ORBA::Platform::isLandscape({720, 1280}));
    EXPECT_FALSE(ORBA::Platform::isLandscape({800, 800}));
    EXPECT_FALSE(ORBA::Platform::isLandscape({0, 0}));
    EXPECT_EQ(ORBA::Platform::pixelCount(1280), 1280u);
    EXPECT_EQ(ORBA::Platform::pixelCount(0), 0u);
    EXPECT_EQ(ORBA::Platform::pixelCount(-5), 0u);
}

}  // namespace
