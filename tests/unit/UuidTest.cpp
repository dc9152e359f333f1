#include "platform/Uuid.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/IdentityStore.h"

using ORBA::Platform::fallbackRandomBytes;
using ORBA::Platform::formatUuid;
using ORBA::Platform::makeUuid;
using ORBA::Platform::uuidFromRandomBytes;
using ORBA::Platform::UuidBytes;

namespace {

bool isHexDigitLower(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// 36 characters, lower-case hexadecimal, hyphens after the 8th, 12th, 16th and 20th.
::testing::AssertionResult hasUuidShape(const std::string& text) {
    if (text.size() != 36) return ::testing::AssertionFailure() << text << " is not 36 long";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != '-' : !isHexDigitLower(text[i])) {
            return ::testing::AssertionFailure() << text << " is malformed at " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(UuidTest, FormatsGuidFieldsInOrder) {
    EXPECT_EQ(
        formatUuid(0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}),
        "01234567-89ab-cdef-0123-456789abcdef");
    EXPECT_EQ(formatUuid(0, 0, 0, {}), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(
        formatUuid(0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
        "ffffffff-ffff-ffff-ffff-ffffffffffff");
    EXPECT_EQ(formatUuid(0xA, 0xB, 0xC, {0, 1, 2, 3, 4, 5, 6, 7}),
              "0000000a-000b-000c-0001-020304050607");
}

TEST(UuidTest, RandomBytesBecomeVersion4InByteOrder) {
    EXPECT_EQ(uuidFromRandomBytes({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
                                   0x0B, 0x0C, 0x0D, 0x0E, 0x0F}),
              "00010203-0405-4607-8809-0a0b0c0d0e0f");
    UuidBytes ones;
    ones.fill(0xFF);
    EXPECT_EQ(uuidFromRandomBytes(ones), "ffffffff-ffff-4fff-bfff-ffffffffffff");
    EXPECT_EQ(uuidFromRandomBytes(UuidBytes{}), "00000000-0000-4000-8000-000000000000");
}

TEST(UuidTest, FallbackBytesFollowTheSeed) {
    EXPECT_EQ(fallbackRandomBytes(42), fallbackRandomBytes(42));
    std::set<UuidBytes> seen;
    for (std::uint64_t seed = 0; seed < 1000; ++seed) seen.insert(fallbackRandomBytes(seed));
    EXPECT_EQ(seen.size(), 1000u);
}

// Both the system generator and the random fallback give version-4, RFC 4122 variant texts.
TEST(UuidTest, MakeUuidGivesDistinctVersion4Texts) {
    std::set<std::string> seen;
    for (int i = 0; i < 5000; ++i) {
        const std::string uuid = makeUuid();
        ASSERT_TRUE(hasUuidShape(uuid));
        ASSERT_EQ(uuid[14], '4') << uuid;
        ASSERT_NE(std::string("89ab").find(uuid[19]), std::string::npos) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 5000u);
}

}  // namespace
