// The C interface against the C++ functions it stands for, on the same inputs.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "capi/CallGuard.h"
#include "orba/Logger.h"
#include "orba/Misc.h"
#include "orba/StringUtil.h"
#include "orba/orba.h"
#include "support/DebugOutputCapture.h"

namespace {

using ORBA::Core::StringUtil;
namespace Misc = ORBA::Platform::Misc;

std::string take(char* text, const std::size_t& size) {
    EXPECT_NE(text, nullptr) << orba_last_error();
    if (text == nullptr) return "<null>";
    EXPECT_EQ(text[size], '\0');
    std::string copy(text, size);
    orba_free(text);
    return copy;
}

std::string take(char* text) {
    return text == nullptr ? take(text, 0) : take(text, std::strlen(text));
}

std::vector<std::string> takeList(orba_string* list, const std::size_t& count) {
    EXPECT_NE(list, nullptr) << orba_last_error();
    std::vector<std::string> texts;
    for (std::size_t i = 0; list != nullptr && i < count; ++i)
        texts.emplace_back(list[i].data, list[i].size);
    orba_free(list);
    return texts;
}

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST(CInterfaceTest, StringFunctionsAnswerAsTheirCppCounterparts) {
    const std::vector<std::string> inputs = {"",
                                             " \t\n\v\f\r",
                                             "  Hello, World! \r\n",
                                             std::string("a\0B,\0c ", 7),
                                             "Zm9vYmFy",
                                             "_-+/Zm9v==x",
                                             "0aFfz1G",
                                             "\xff\xfe,Ab,,c,",
                                             "a,b,,c,",
                                             "<k>old</k><k>x</k>"};
    for (const std::string& in : inputs) {
        SCOPED_TRACE(StringUtil::StrToHexStr(in));
        const char* p = in.data();
        const std::size_t n = in.size();
        std::size_t size = 0;
        for (auto letterCase : {StringUtil::Upper, StringUtil::Lower}) {
            std::string expected = in;
            StringUtil::changeLetterCase(expected, letterCase);
            EXPECT_EQ(take(orba_change_letter_case(p, n, letterCase, &size), size), expected);
        }
        std::string removed = in;
        StringUtil::removeCharacter(removed, ',');
        EXPECT_EQ(take(orba_remove_character(p, n, ',', &size), size), removed);
        std::string trimmed = in;
        StringUtil::trimString(trimmed);
        EXPECT_EQ(take(orba_trim_string(p, n, &size), size), trimmed);
        EXPECT_EQ(take(orba_replace_all(p, n, ",", 1, "--", 2, &size), size),
                  StringUtil::replaceAll(in, ",", "--"));
        std::string ranged = in;
        const std::uint64_t found =
            StringUtil::replaceRangeBetweenStrings(ranged, "<k>", "</k>", "new", 1);
        std::uint64_t position = 0;
        EXPECT_EQ(take(orba_replace_range_between_strings(p, n, "<k>", 3, "</k>", 4, "new", 3, 1,
                                                          &position, &size),
                       size),
                  ranged);
        EXPECT_EQ(position, found);
        std::size_t count = 0;
        EXPECT_EQ(takeList(orba_split_string(p, n, ',', &count), count),
                  StringUtil::splitString(in, ','));

        EXPECT_EQ(orba_is_empty_string(p, n) != 0, StringUtil::isEmptyString(in));
        const std::string upper = [&] {
            std::string u = in;
            StringUtil::changeLetterCase(u, StringUtil::Upper);
            return u;
        }();
        EXPECT_EQ(orba_is_equal(p, n, upper.data(), upper.size(), ORBA_CASE_SENSITIVE) != 0,
                  StringUtil::isEqual(in, upper, ORBA::Core::CaseSensitive));
        EXPECT_EQ(orba_is_equal(p, n, upper.data(), upper.size(), ORBA_CASE_INSENSITIVE) != 0,
                  StringUtil::isEqual(in, upper, ORBA::Core::CaseInSensitive));
        EXPECT_EQ(orba_is_equal_case_in_sensitive(p, n, upper.data(), upper.size()) != 0,
                  StringUtil::isEqualCaseInSensitive(in, upper));

        EXPECT_EQ(take(orba_base64_encode(p, n)), StringUtil::base64Encode(in));
        EXPECT_EQ(take(orba_base64_url_safe_encode(p, n)), StringUtil::base64URLSafeEncode(in));
        EXPECT_EQ(take(orba_str_to_hex_str(p, n)), StringUtil::StrToHexStr(in));
        EXPECT_EQ(take(orba_byte_to_hex_str(p, n)), StringUtil::byteToHexStr(bytesOf(in)));
        EXPECT_EQ(take(orba_base64_decode_string(p, n, &size), size),
                  StringUtil::base64DecodeString(in));
        EXPECT_EQ(bytesOf(take(orba_base64_decode_vector(p, n, &size), size)),
                  StringUtil::base64DecodeVector(in));
        EXPECT_EQ(take(orba_base64_url_safe_decode(p, n, &size), size),
                  StringUtil::base64URLSafeDecode(in));
        EXPECT_EQ(take(orba_hex_str_to_str(p, n, &size), size), StringUtil::hexStrToStr(in));
        EXPECT_EQ(bytesOf(take(orba_hex_str_to_byte(p, n, &size), size)),
                  StringUtil::hexStrToByte(in));
    }
    for (long long value : {0LL, -1LL, LLONG_MIN, LLONG_MAX}) {
        EXPECT_EQ(take(orba_longlong_to_string(value)), StringUtil::longlongToString(value));
    }
    EXPECT_EQ(take(orba_generate_uuid()).size(), StringUtil::generateUUID().size());
    EXPECT_EQ(take(orba_get_random_data(5)).size(), StringUtil::getRandomData(5).size());
    EXPECT_EQ(take(orba_get_url_safe_random_string(7)).size(),
              StringUtil::getUrlSafeRandomString(7).size());
}

// A C text function and its C++ counterpart agree, failures included: where the C++ function
// throws, the C function returns NULL with the exception's message as the last error.
void expectSameText(const char* name, char* (*cFunction)(), std::string (*cppFunction)()) {
    SCOPED_TRACE(name);
    char* text = cFunction();
    const int kind = orba_last_error_kind();
    const std::string error = orba_last_error();
    try {
        const std::string expected = cppFunction();
        EXPECT_EQ(take(text), expected);
    } catch (const std::exception& thrown) {
        EXPECT_EQ(text, nullptr);
        EXPECT_NE(kind, ORBA_ERROR_NONE);
        EXPECT_EQ(error, thrown.what());
        orba_free(text);
    }
}

TEST(CInterfaceTest, PlatformFunctionsAnswerAsTheirCppCounterparts) {
    expectSameText("os version", orba_get_os_version, Misc::getOsVersion);
    expectSameText("platform", orba_get_platform, Misc::getPlatform);
    expectSameText("cpu type", orba_get_cpu_type, Misc::getCpuType);
    expectSameText("cpu model", orba_get_cpu_model, Misc::getCPUModel);
    expectSameText("mcc", orba_get_mcc, Misc::getMcc);
    expectSameText("mnc", orba_get_mnc, Misc::getMnc);
    expectSameText("device model", orba_get_device_model, Misc::getDeviceModel);
    expectSameText("device name", orba_get_device_name, Misc::getDeviceName);
    expectSameText("user name", orba_get_user_name, Misc::getUserName);
    expectSameText("language", orba_get_language, Misc::getLanguage);
    expectSameText("country", orba_get_country, Misc::getCountry);
    expectSameText("advertising id", orba_get_advertising_id, Misc::getAdvertisingId);
    expectSameText("app version", orba_get_app_version, Misc::getAppVersion);

    EXPECT_EQ(orba_get_physically_installed_system_memory(),
              Misc::getPhysicallyInstalledSystemMemory());
    EXPECT_EQ(orba_get_physically_installed_system_memory_gb(),
              Misc::getPhysicallyInstalledSystemMemoryGB());
    std::size_t count = 0;
    EXPECT_EQ(takeList(orba_get_gpu_model_list(&count), count), Misc::getGPUModelList());
    EXPECT_EQ(orba_get_window_width(), Misc::getWindowWidth());
    EXPECT_EQ(orba_get_window_height(), Misc::getWindowHeight());
    EXPECT_EQ(orba_get_is_landscape_window() != 0, Misc::getIsLandscapeWindow());
    EXPECT_EQ(orba_get_processor_id("no-such-program.exe"),
              Misc::getProcessorID("no-such-program.exe"));
    EXPECT_EQ(orba_get_use_orba_core_log() != 0,
              ORBA::Core::Logger::LogSetting::getUseOrbaCoreLog());
}

TEST(CInterfaceTest, FailuresReturnTheFailureValueWithTheLastErrorAndALogLine) {
    orba_set_use_orba_core_log(1);
    OrbaTest::DebugOutputCapture capture;
    EXPECT_EQ(orba_get_processor_id("bad\xff"), 0);
    EXPECT_EQ(orba_last_error_kind(), ORBA_ERROR_RANGE);
    EXPECT_STREQ(orba_last_error(), "bad conversion");
    EXPECT_EQ(orba_get_random_data(UINT64_MAX), nullptr);
    EXPECT_EQ(orba_last_error_kind(), ORBA_ERROR_LENGTH);
    std::string lengthMessage;
    try {
        StringUtil::getRandomData(UINT64_MAX);
    } catch (const std::length_error& error) {
        lengthMessage = error.what();
    }
    EXPECT_EQ(orba_last_error(), lengthMessage);
    EXPECT_EQ(capture.finish(), "orba_get_processor_id: bad conversion\norba_get_random_data: " +
                                    lengthMessage + "\n");
    orba_set_use_orba_core_log(0);

    // The next call starts clean, on this thread only.
    orba_free(orba_generate_uuid());
    EXPECT_EQ(orba_last_error_kind(), ORBA_ERROR_NONE);
    EXPECT_STREQ(orba_last_error(), "");
}

struct CollectedLines {
    std::vector<std::string> lines;
    bool reenter = false;
};

void collectLine(void* user, const char* text, size_t length) {
    auto& collected = *static_cast<CollectedLines*>(user);
    collected.lines.emplace_back(text, length);
    if (collected.reenter) {
        // Back into the library from inside the callback: any function, even this very switch.
        char* encoded = orba_base64_encode("ab", 2);
        collected.lines.emplace_back(encoded != nullptr ? encoded : "");
        orba_free(encoded);
        orba_set_log_callback(nullptr, nullptr);
    }
}

TEST(CInterfaceTest, ALogCallbackTakesTheLinesWhileLoggingIsOn) {
    CollectedLines collected;
    orba_set_log_callback(&collectLine, &collected);
    OrbaTest::DebugOutputCapture capture;
    orba_log("while off", 0);
    orba_set_use_orba_core_log(1);
    orba_log("one", 0);
    orba_log(std::string(2000, 'x').c_str(), 0);
    orba_set_use_orba_core_log(0);
    orba_log("forced", 1);
    ASSERT_EQ(collected.lines.size(), 3u);
    EXPECT_EQ(collected.lines[0], "one");
    EXPECT_EQ(collected.lines[1], std::string(1024, 'x'));
    EXPECT_EQ(collected.lines[2], "forced");

    // A callback that calls back in, and takes itself away, neither deadlocks nor loses a line.
    collected.reenter = true;
    orba_log("last", 1);
    EXPECT_EQ(collected.lines.size(), 5u);
    EXPECT_EQ(collected.lines[4], "YWI=");
    orba_log("default again", 1);
    EXPECT_EQ(capture.finish(), "default again\n");

    // The C++ form: an exception from the host's function stays out of the library.
    std::vector<std::string> seen;
    ORBA::Core::Logger::setLogCallback([&seen](const std::string& line) {
        seen.push_back(line);
        throw std::runtime_error("the host's own");
    });
    ORBA::Core::Logger::Log("thrown at", true);
    ORBA::Core::Logger::setLogCallback(nullptr);
    EXPECT_EQ(seen, std::vector<std::string>{"thrown at"});
}

TEST(CInterfaceTest, EachExceptionBecomesItsKindOfLastError) {
    struct Case {
        std::function<int()> body;
        int kind;
        std::int32_t code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[]() -> int {
             throw Misc::hresult_access_denied(static_cast<std::int32_t>(0x80070005), "denied");
         },
         ORBA_ERROR_HRESULT, static_cast<std::int32_t>(0x80070005), "denied"},
        {[]() -> int { throw std::range_error("bad conversion"); }, ORBA_ERROR_RANGE, 0,
         "bad conversion"},
        {[]() -> int { throw std::length_error("too long"); }, ORBA_ERROR_LENGTH, 0, "too long"},
        {[]() -> int { throw std::runtime_error("not found usable port"); }, ORBA_ERROR_RUNTIME, 0,
         "not found usable port"},
        {[]() -> int { throw std::bad_alloc(); }, ORBA_ERROR_OUT_OF_MEMORY, 0, "out of memory"},
        {[]() -> int { throw 42; }, ORBA_ERROR_OTHER, 0, "unknown exception"},
        {[]() -> int { throw std::runtime_error(std::string(5000, 'x')); }, ORBA_ERROR_RUNTIME, 0,
         std::string(1023, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 30));
        EXPECT_EQ(ORBA::CApi::guarded("test", -1, c.body), -1);
        EXPECT_EQ(orba_last_error_kind(), c.kind);
        EXPECT_EQ(orba_last_error_code(), c.code);
        EXPECT_EQ(orba_last_error(), c.message);
    }
}

}  // namespace
