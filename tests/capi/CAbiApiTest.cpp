// The C++ API as a host built with another toolchain sees it: compiled here over the C
// interface, with this program's own standard library building every string.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "orba/Logger.h"
#include "orba/Misc.h"
#include "orba/StringUtil.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#ifndef ORBA_USE_C_ABI
#error "this test is built with ORBA_USE_C_ABI"
#endif

namespace {

using ORBA::Core::StringUtil;
namespace Misc = ORBA::Platform::Misc;

TEST(CAbiApiTest, StringUtilGivesTheLibraryAnswersWithBytesIntact) {
    const std::string withNul("a\0B", 3);
    std::string text = " \t" + withNul + "c\r\n";
    StringUtil::trimString(text);
    EXPECT_EQ(text, withNul + "c");
    StringUtil::changeLetterCase(text, StringUtil::Upper);
    EXPECT_EQ(text, std::string("A\0BC", 4));
    StringUtil::removeCharacter(text, '\0');
    EXPECT_EQ(text, "ABC");
    EXPECT_TRUE(StringUtil::isEqualCaseInSensitive(std::string("abc"), text));
    EXPECT_FALSE(StringUtil::isEqual(std::string_view("abc"), text, ORBA::Core::CaseSensitive));

    std::string ranged = "<k>old</k>";
    EXPECT_EQ(StringUtil::replaceRangeBetweenStrings(ranged, "<k>", "</k>", "new", 0), 6u);
    EXPECT_EQ(ranged, "<k>new</k>");
    EXPECT_EQ(StringUtil::replaceRangeBetweenStrings(ranged, "[", "]", "x", 0), UINT64_MAX);
    EXPECT_EQ(StringUtil::replaceAll("a.b.c", ".", ".."), "a..b..c");
    EXPECT_EQ(StringUtil::splitString(std::string(",a,\0,", 5), ','),
              (std::vector<std::string>{"", "a", std::string("\0", 1)}));

    EXPECT_EQ(StringUtil::base64Encode(withNul), "YQBC");
    EXPECT_EQ(StringUtil::base64Encode(std::vector<std::uint8_t>{0xfb, 0xff}), "+/8=");
    EXPECT_EQ(StringUtil::base64URLSafeEncode("\xfb\xff"), "-_8");
    EXPECT_EQ(StringUtil::base64DecodeString("YQBC"), withNul);
    EXPECT_EQ(StringUtil::base64DecodeVector("+/8="), (std::vector<std::uint8_t>{0xfb, 0xff}));
    EXPECT_EQ(StringUtil::base64URLSafeDecode("-_8"), "\xfb\xff");
    EXPECT_EQ(StringUtil::StrToHexStr(withNul), "610042");
    EXPECT_EQ(StringUtil::byteToHexStr({0x0a, 0xff}), "0AFF");
    EXPECT_EQ(StringUtil::hexStrToStr("610042"), withNul);
    EXPECT_EQ(StringUtil::hexStrToByte("0aF"), (std::vector<std::uint8_t>{0x0a, 0x0f}));
    EXPECT_EQ(StringUtil::longlongToString(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(StringUtil::generateUUID().size(), 68u);
    EXPECT_EQ(StringUtil::getRandomData(4).size(), 8u);
    EXPECT_EQ(StringUtil::getUrlSafeRandomString(9).size(), 9u);
}

TEST(CAbiApiTest, DocumentedExceptionsReachTheHostByType) {
    EXPECT_THROW(StringUtil::getRandomData(UINT64_MAX), std::length_error);
    try {
        Misc::getProcessorID("bad\xff");
        ADD_FAILURE() << "no exception";
    } catch (const std::range_error& error) {
        EXPECT_STREQ(error.what(), "bad conversion");
    }
}

TEST(CAbiApiTest, PlatformAndLogSettingAnswer) {
#ifdef _WIN32
    EXPECT_EQ(Misc::getPlatform(), "W");
#else
    EXPECT_EQ(Misc::getPlatform(), "L");
    EXPECT_EQ(Misc::getAdvertisingId(), "");
    EXPECT_TRUE(Misc::getIsLimitAdTracking());
#endif
    EXPECT_GT(Misc::getPhysicallyInstalledSystemMemory(), 0);
    EXPECT_EQ(Misc::getMcc(), "");
    EXPECT_EQ(Misc::getOsVersion().empty(), false);
    EXPECT_EQ(Misc::getProcessorID("no-such-program.exe"), 0);
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    EXPECT_TRUE(ORBA::Core::Logger::LogSetting::getUseOrbaCoreLog());
    ORBA::Core::Logger::LogSetting::setUseOrbaCoreLog(false);
    EXPECT_FALSE(ORBA::Core::Logger::LogSetting::getUseOrbaCoreLog());

    // The callback, made in the host's standard library, crosses as a plain C function.
    std::vector<std::string> seen;
    ORBA::Core::Logger::setLogCallback([&seen](const std::string& line) {
        seen.push_back(line);
        throw std::runtime_error("the host's own");
    });
    ORBA::Core::Logger::Log("to the host", true);
    ORBA::Core::Logger::setLogCallback(nullptr);
    EXPECT_EQ(seen, std::vector<std::string>{"to the host"});
}

#ifndef _WIN32
TEST(CAbiApiTest, IpcCallbackIsKeptOnceAndLaterOnesAreReleased) {
    auto received = std::make_shared<std::promise<std::string>>();
    Misc::ipcOpen([received](std::string text) { received->set_value(std::move(text)); });
    auto dropped = std::make_shared<int>(0);
    Misc::ipcOpen([dropped](std::string) {});
    EXPECT_EQ(dropped.use_count(), 1);  // the library gave the second callback back at once

    Misc::ipcSend(std::to_string(::getpid()), "hello");
    auto answer = received->get_future();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(answer.get(), "hello");
}
#endif

}  // namespace
