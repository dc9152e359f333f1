#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orba/StringUtil.h"

using ORBA::Core::StringUtil;
using Bytes = std::vector<std::uint8_t>;

namespace {

bool onlyCharactersOf(const std::string& text, const std::string& alphabet) {
    return text.find_first_not_of(alphabet) == std::string::npos;
}

const std::string kLowerHex = "0123456789abcdef";
const std::string kUrlSafe = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

TEST(StringEncodingTest, EncodesTheRfc4648Vectors) {
    const char* const vectors[][2] = {{"", ""},         {"f", "Zg=="},     {"fo", "Zm8="},
                                      {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                      {"foobar", "Zm9vYmFy"}};
    for (const auto& v : vectors) {
        EXPECT_EQ(StringUtil::base64Encode(std::string(v[0])), v[1]) << v[0];
        const std::string text = v[0];
        EXPECT_EQ(StringUtil::base64Encode(Bytes(text.begin(), text.end())), v[1]) << v[0];
        EXPECT_EQ(StringUtil::base64DecodeString(v[1]), v[0]) << v[1];
    }
    // Bytes above 0x7F, and every index of the alphabet's tail.
    EXPECT_EQ(StringUtil::base64Encode(std::string("\xFB\xFF")), "+/8=");
    EXPECT_EQ(StringUtil::base64Encode(Bytes{0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0xFF}), "ABCDEFGH/w==");
    EXPECT_EQ(StringUtil::base64DecodeVector("ABCDEFGH/w=="), (Bytes{0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0xFF}));
    EXPECT_EQ(StringUtil::base64DecodeString(std::string("AA==")), std::string(1, '\0'));
}

TEST(StringEncodingTest, UrlSafeFormSwapsTwoCharactersAndDropsPadding) {
    EXPECT_EQ(StringUtil::base64URLSafeEncode("\xFB\xFF"), "-_8");
    EXPECT_EQ(StringUtil::base64URLSafeEncode("f"), "Zg");
    EXPECT_EQ(StringUtil::base64URLSafeEncode(""), "");
    EXPECT_EQ(StringUtil::base64URLSafeDecode("-_8"), "\xFB\xFF");
    EXPECT_EQ(StringUtil::base64URLSafeDecode("+/8="), "\xFB\xFF");
    EXPECT_EQ(StringUtil::base64URLSafeDecode("Zg"), "f");
}

TEST(StringEncodingTest, DecoderStopsAtTheFirstForeignByteAndDropsLeftoverBits) {
    EXPECT_EQ(StringUtil::base64DecodeString("Zm9v"), "foo");
    EXPECT_EQ(StringUtil::base64DecodeString("Zm8"), "fo");
    EXPECT_EQ(StringUtil::base64DecodeString("QQ"), "A");
    EXPECT_EQ(StringUtil::base64DecodeString("Zm9v YmFy"), "foo");
    EXPECT_EQ(StringUtil::base64DecodeString("Zm9v\nYmFy"), "foo");
    EXPECT_EQ(StringUtil::base64DecodeString("Zg==Zm9v"), "f");
    EXPECT_EQ(StringUtil::base64DecodeString("!abc"), "");
    EXPECT_EQ(StringUtil::base64DecodeString("Z"), "");
    EXPECT_EQ(StringUtil::base64DecodeString("Zm9\xC3\xA9"), "fo");
    // The URL-safe characters are foreign to the standard decoder.
    EXPECT_EQ(StringUtil::base64DecodeString("-_8"), "");
    EXPECT_EQ(StringUtil::base64DecodeVector("Zm9v YmFy"), (Bytes{'f', 'o', 'o'}));
}

TEST(StringEncodingTest, WritesUpperCaseHex) {
    EXPECT_EQ(StringUtil::byteToHexStr(Bytes{0x00, 0xAB}), "00AB");
    EXPECT_EQ(StringUtil::byteToHexStr(Bytes{}), "");
    EXPECT_EQ(StringUtil::StrToHexStr(""), "");
    EXPECT_EQ(StringUtil::StrToHexStr(std::string("\x01\xFE\0z", 4)), "01FE007A");
}

TEST(StringEncodingTest, ReadsHexPairsAsStrtolDoes) {
    EXPECT_EQ(StringUtil::hexStrToStr("4142"), "AB");
    EXPECT_EQ(StringUtil::hexStrToStr(""), "");
    EXPECT_EQ(StringUtil::hexStrToStr("abc"), "\xAB\x0C");
    EXPECT_EQ(StringUtil::hexStrToStr("aBcD"), "\xAB\xCD");
    EXPECT_EQ(StringUtil::hexStrToStr("zz"), std::string(1, '\0'));
    EXPECT_EQ(StringUtil::hexStrToStr("7z"), "\x07");
    EXPECT_EQ(StringUtil::hexStrToStr("-1"), "\xFF");
    EXPECT_EQ(StringUtil::hexStrToStr(" f+1"), std::string("\x0F\x01"));
    // A NUL inside the text ends that pair for strtol but not the walk.
    EXPECT_EQ(StringUtil::hexStrToStr(std::string("4\0" "41", 4)), "\x04" "A");
    EXPECT_EQ(StringUtil::hexStrToByte("00ff7"), (Bytes{0x00, 0xFF, 0x07}));
    EXPECT_EQ(StringUtil::hexStrToStr(StringUtil::StrToHexStr("\x80 bytes\x7F")), "\x80 bytes\x7F");
}

TEST(StringEncodingTest, RandomTextsHaveTheirShape) {
    EXPECT_EQ(StringUtil::getRandomData(0), "");
    const std::string data = StringUtil::getRandomData(3);
    EXPECT_EQ(data.size(), 6u);
    EXPECT_TRUE(onlyCharactersOf(data, kLowerHex)) << data;

    const std::string uuid = StringUtil::generateUUID();
    ASSERT_EQ(uuid.size(), 68u) << uuid;
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        const bool dash = i == 16 || i == 25 || i == 34 || i == 43;
        EXPECT_EQ(uuid[i] == '-', dash) << uuid;
        if (!dash) {
            EXPECT_NE(kLowerHex.find(uuid[i]), std::string::npos) << uuid;
        }
    }

    EXPECT_EQ(StringUtil::getUrlSafeRandomString(0), "");
    const std::string urlSafe = StringUtil::getUrlSafeRandomString(10);
    EXPECT_EQ(urlSafe.size(), 10u);
    EXPECT_TRUE(onlyCharactersOf(urlSafe, kUrlSafe)) << urlSafe;
}

// A random device that is secretly deterministic (as some runtimes' once were) would repeat
// identifiers across calls; 64 random bits colliding by chance is beyond any test run.
TEST(StringEncodingTest, RandomTextsDifferBetweenCalls) {
    std::set<std::string> uuids, texts;
    for (int i = 0; i < 20; ++i) {
        uuids.insert(StringUtil::generateUUID());
        texts.insert(StringUtil::getUrlSafeRandomString(16));
    }
    EXPECT_EQ(uuids.size(), 20u);
    EXPECT_EQ(texts.size(), 20u);

    // Every hex digit and every alphabet character turns up in a long enough text.
    const std::string data = StringUtil::getRandomData(2000);
    EXPECT_EQ(std::set<char>(data.begin(), data.end()).size(), 16u);
    const std::string text = StringUtil::getUrlSafeRandomString(4000);
    EXPECT_EQ(std::set<char>(text.begin(), text.end()).size(), 64u);
}

TEST(StringEncodingTest, CountsBeyondAStringsReachAreRefused) {
    EXPECT_THROW(StringUtil::getRandomData(UINT64_MAX / 2 + 1), std::length_error);
    EXPECT_THROW(StringUtil::getRandomData(std::uint64_t{1} << 62), std::length_error);
    EXPECT_THROW(StringUtil::getUrlSafeRandomString(UINT64_MAX), std::length_error);
}

}  // namespace
