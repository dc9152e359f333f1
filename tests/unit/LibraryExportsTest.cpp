// Loads the built library as a host would and drives it through its exported names only.
#include <string>

#include <gtest/gtest.h>

#include "orba/Plugin.h"
#include "support/DebugOutputCapture.h"
#include "SharedLibrary.h"

namespace {

using CreateFn = const ORBA::OrbaPluginInterface* (*)();
using TriggerFn = void (*)(const char*);
using SetLogFn = void (*)(bool);

TEST(LibraryExportsTest, HostFindsTheEntryPointsByName) {
    OrbaTools::SharedLibrary library(OrbaTools::executableFolder() +
                                     OrbaTools::trackerLibraryFileName());
    ASSERT_TRUE(library.loaded()) << library.error();

    auto create = reinterpret_cast<CreateFn>(library.symbol("createOrbaPluginInterface"));
    auto trigger = reinterpret_cast<TriggerFn>(
        library.symbol("_Z45TriggerOrbaThirdPartyTrackerEventCallbackFuncPKc"));
    auto setLog = reinterpret_cast<SetLogFn>(
        library.symbol("_ZN4ORBA4Core6Logger10LogSetting17setUseOrbaCoreLogEb"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(trigger, nullptr);
    ASSERT_NE(setLog, nullptr);
    EXPECT_EQ(create(), create());
    EXPECT_EQ(create()->triggerEventCallback, trigger);
#ifdef _WIN32
    // Hosts built with MSVC look the command function up by its MSVC-decorated name.
    EXPECT_EQ(library.symbol("?TriggerOrbaThirdPartyTrackerEventCallbackFunc@@YAXPEBD@Z"),
              reinterpret_cast<void*>(trigger));
#endif

    setLog(true);
    OrbaTest::DebugOutputCapture capture;
    create()->triggerEventCallback("{");
    trigger(nullptr);
    EXPECT_EQ(capture.finish(),
              "command text is not valid JSON: unexpected end after byte 1\n"
              "Command not run: the command text is NULL\n");
    setLog(false);
}

}  // namespace
