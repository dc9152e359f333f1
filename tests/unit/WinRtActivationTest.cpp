#include "platform/WinRtActivation.h"

#include <gtest/gtest.h>

#include "core/Utf.h"
#include "platform/HresultError.h"

namespace ORBA {
namespace Platform {
namespace {

constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80070005);

// Plays the system's part from scripted answers and records each step taken.
class ScriptedSteps : public ActivationSteps {
public:
    std::vector<std::int32_t> activationResults;  // one per getActivationFactory call
    bool canJoin = true;
    std::string libraryWithFactory;                // the one library that answers
    std::string log;

    std::int32_t getActivationFactory(void** factory) override {
        const std::int32_t result = activationResults.at(activations_++);
        log += "activate ";
        if (result >= 0) *factory = &factory_;
        return result;
    }
    bool joinMultithreadedApartment() override {
        log += canJoin ? "join " : "no-join ";
        return canJoin;
    }
    bool getFactoryFromLibrary(const std::u16string& library, void** factory) override {
        const std::string name = Core::utf16ToUtf8(library);
        log += "load:" + name + " ";
        if (name != libraryWithFactory) return false;
        *factory = &factory_;
        return true;
    }
    void saveErrorInfo() override { log += "save "; }
    void restoreErrorInfo() override { log += "restore "; }

private:
    std::size_t activations_ = 0;
    int factory_ = 0;
};

const std::u16string kAdvertising = u"Windows.System.UserProfile.AdvertisingManager";

TEST(WinRtActivationTest, LibraryNamesFromClassName) {
    const std::vector<std::u16string> names = componentLibraryNames(kAdvertising);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Windows.System.UserProfile.dll",
                                                  u"Windows.System.dll", u"Windows.dll"}));
    EXPECT_EQ(componentLibraryNames(u"Windows.Globalization.Language"),
              (std::vector<std::u16string>{u"Windows.Globalization.dll", u"Windows.dll"}));
    EXPECT_TRUE(componentLibraryNames(u"NoNamespace").empty());
    EXPECT_TRUE(componentLibraryNames(u".Leading").empty());
}

TEST(WinRtActivationTest, RegisteredClassNeedsNothingElse) {
    ScriptedSteps steps;
    steps.activationResults = {0};
    void* factory = nullptr;
    EXPECT_EQ(activateFactory(steps, kAdvertising, &factory), 0);
    EXPECT_NE(factory, nullptr);
    EXPECT_EQ(steps.log, "activate ");
}

TEST(WinRtActivationTest, ThreadOutsideAnyApartmentJoinsTheMultithreadedOne) {
    ScriptedSteps steps;
    steps.activationResults = {kCoENotInitialized, 0};
    void* factory = nullptr;
    EXPECT_EQ(activateFactory(steps, kAdvertising, &factory), 0);
    EXPECT_EQ(steps.log, "activate join activate ");

    ScriptedSteps cannotJoin;
    cannotJoin.canJoin = false;
    cannotJoin.activationResults = {kCoENotInitialized};
    EXPECT_EQ(activateFactory(cannotJoin, kAdvertising, &factory), kCoENotInitialized);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(cannotJoin.log, "activate no-join ");
}

TEST(WinRtActivationTest, UnregisteredClassFallsBackToComponentLibraries) {
    ScriptedSteps steps;
    steps.activationResults = {kCoENotInitialized, kClassNotRegistered};
    steps.libraryWithFactory = "Windows.System.dll";
    void* factory = nullptr;
    EXPECT_EQ(activateFactory(steps, kAdvertising, &factory), 0);
    EXPECT_NE(factory, nullptr);
    EXPECT_EQ(steps.log,
              "activate join activate save load:Windows.System.UserProfile.dll "
              "load:Windows.System.dll ");
}

TEST(WinRtActivationTest, FirstFailureIsReportedWhenNoLibraryAnswers) {
    ScriptedSteps steps;
    steps.activationResults = {kAccessDenied};
    void* factory = nullptr;
    EXPECT_EQ(activateFactory(steps, kAdvertising, &factory), kAccessDenied);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(steps.log,
              "activate save load:Windows.System.UserProfile.dll load:Windows.System.dll "
              "load:Windows.dll restore ");
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
