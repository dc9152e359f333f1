// What every identity store back end must do, run against the one of the host. The back ends'
// own cases (the file's format and permissions, forked writers; the registry's types and the old
// Run key) are in unit/IdentityStorePosixTest.cpp and win32/IdentityStoreWin32Test.cpp.
#include "platform/IdentityStore.h"

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/IdentityStoreSandbox.h"

namespace {

using ORBA::Platform::readIdentityValue;
using ORBA::Platform::updateIdentityValue;
using ORBA::Platform::writeIdentityValue;

template <typename Sandbox>
class IdentityStoreTest : public ::testing::Test {
protected:
    // What writing printed to standard output, with the write's result.
    static std::string writeCapturing(const std::string& name, const std::string& value,
                                      bool& ok) {
        ::testing::internal::CaptureStdout();
        ok = writeIdentityValue(name, value);
        return ::testing::internal::GetCapturedStdout();
    }

    Sandbox sandbox_;
};

using HostBackends = ::testing::Types<OrbaTest::IdentityStoreSandbox>;
TYPED_TEST_SUITE(IdentityStoreTest, HostBackends);

TYPED_TEST(IdentityStoreTest, WritesKeepEveryOtherValue) {
    bool ok = false;
    EXPECT_EQ(this->writeCapturing("IdentityTest_a", "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0", ok),
              "");
    EXPECT_TRUE(ok);
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", "0"));
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", "12"));
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0");
    EXPECT_EQ(readIdentityValue("IdentityTest_b", 2048), "12");
    EXPECT_EQ(readIdentityValue("IdentityTest_moved", 2048), "");
    // An empty value is a value.
    ASSERT_TRUE(writeIdentityValue("IdentityTest_b", ""));
    EXPECT_EQ(readIdentityValue("IdentityTest_b", 2048), "");
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0");
}

TYPED_TEST(IdentityStoreTest, ValueMustFitWithItsTerminator) {
    ASSERT_TRUE(writeIdentityValue("IdentityTest_long", std::string(2047, 'a')));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 2048), std::string(2047, 'a'));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 2047), "");
    ASSERT_TRUE(writeIdentityValue("IdentityTest_long", std::string(2048, 'a')));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 2048), "");
    ASSERT_TRUE(writeIdentityValue("IdentityTest_long", std::string(1023, 'b')));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 1024), std::string(1023, 'b'));
    EXPECT_EQ(readIdentityValue("IdentityTest_long", 1023), "");
    ASSERT_TRUE(writeIdentityValue("IdentityTest_a", "x"));
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2), "x");
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 1), "");
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 0), "");
}

// A NUL would end the name or value early: the registry's ANSI functions stop there and would
// reach another value, and the file could not read it back.
TYPED_TEST(IdentityStoreTest, RefusesNulInNameOrValue) {
    ASSERT_TRUE(writeIdentityValue("IdentityTest_a", "kept"));
    const std::string refused =
        "Error setting key " + std::to_string(TypeParam::kRefusedCode) + "\n";
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{std::string("IdentityTest_a\0x", 16), "v"},
          {"IdentityTest_a", std::string("v\0w", 3)}}) {
        bool ok = true;
        EXPECT_EQ(this->writeCapturing(name, value, ok), refused);
        EXPECT_FALSE(ok);
    }
    EXPECT_EQ(readIdentityValue("IdentityTest_a", 2048), "kept");
    EXPECT_EQ(readIdentityValue(std::string("IdentityTest_a\0x", 16), 2048), "");
}

// Threads counting one value at once: each increment reads and writes under the store's lock, so
// none is lost. The name holds a backslash and '=', which neither a kernel object name nor a
// plain line of the file can carry.
TYPED_TEST(IdentityStoreTest, ConcurrentUpdatesCountEveryIncrement) {
    constexpr int kThreads = 4;
    constexpr int kIncrementsEach = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < kIncrementsEach; ++i) {
                updateIdentityValue("IdentityTest_a\\b=c", 2048, [](const std::string& current) {
                    return std::to_string((current.empty() ? 0 : std::stoi(current)) + 1);
                });
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(readIdentityValue("IdentityTest_a\\b=c", 2048),
              std::to_string(kThreads * kIncrementsEach));
}

}  // namespace
