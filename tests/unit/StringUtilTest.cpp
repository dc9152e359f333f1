#include "orba/StringUtil.h"

#include <cctype>
#include <climits>
#include <clocale>

#include <gtest/gtest.h>

using ORBA::Core::CaseInSensitive;
using ORBA::Core::CaseSensitive;
using ORBA::Core::StringSensitive;
using ORBA::Core::StringUtil;

namespace {

TEST(StringUtilTest, ComparesWithAndWithoutCase) {
    const std::string upper = "Abc", lower = "aBC", longer = "abcd", empty;
    EXPECT_FALSE(StringUtil::isEqual(upper, lower, CaseSensitive));
    EXPECT_TRUE(StringUtil::isEqual(upper, lower, CaseInSensitive));
    EXPECT_TRUE(StringUtil::isEqual(upper, lower, static_cast<StringSensitive>(7)));
    EXPECT_FALSE(StringUtil::isEqual(lower, longer, CaseSensitive));
    EXPECT_FALSE(StringUtil::isEqual(lower, longer, CaseInSensitive));
    EXPECT_TRUE(StringUtil::isEqual(empty, empty, CaseSensitive));
    EXPECT_TRUE(StringUtil::isEqualCaseInSensitive(upper, lower));
    EXPECT_TRUE(StringUtil::isEqualCaseInSensitive(std::string_view("X\xC3\xA9"), std::string_view("x\xC3\xA9")));
    // Only ASCII letters fold: the bytes of "É" and "é" differ and stay different.
    EXPECT_FALSE(StringUtil::isEqualCaseInSensitive(std::string("\xC3\x89"), std::string("\xC3\xA9")));
    EXPECT_TRUE(StringUtil::isEqual(std::string_view("a\0b", 3), std::string_view("a\0b", 3), CaseSensitive));
    EXPECT_FALSE(StringUtil::isEqual(std::string_view("a\0b", 3), std::string_view("a\0c", 3), CaseInSensitive));
}

TEST(StringUtilTest, ChangesCaseOfAsciiLettersOnly) {
    std::string text = "a\xC3\xA9" "1b";
    StringUtil::changeLetterCase(text, StringUtil::Upper);
    EXPECT_EQ(text, "A\xC3\xA9" "1B");
    StringUtil::changeLetterCase(text, static_cast<StringUtil::LetterCase>(3));
    EXPECT_EQ(text, "a\xC3\xA9" "1b");
}

TEST(StringUtilTest, EmptinessAndDecimalText) {
    EXPECT_TRUE(StringUtil::isEmptyString(""));
    EXPECT_FALSE(StringUtil::isEmptyString(" "));
    EXPECT_EQ(StringUtil::longlongToString(LLONG_MIN), "-9223372036854775808");
    EXPECT_EQ(StringUtil::longlongToString(LLONG_MAX), "9223372036854775807");
    EXPECT_EQ(StringUtil::longlongToString(0), "0");
    EXPECT_EQ(StringUtil::longlongToString(-42), "-42");
}

TEST(StringUtilTest, RemovesCharacters) {
    std::string text = "a=b==";
    StringUtil::removeCharacter(text, '=');
    EXPECT_EQ(text, "ab");
    // The character may be passed by reference into the text itself.
    std::string self = "xaxbx";
    StringUtil::removeCharacter(self, self[0]);
    EXPECT_EQ(self, "ab");
}

TEST(StringUtilTest, ReplacesAllWithoutRescanningReplacements) {
    EXPECT_EQ(StringUtil::replaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(StringUtil::replaceAll("abc", "x", "y"), "abc");
    EXPECT_EQ(StringUtil::replaceAll("abab", "ab", ""), "");
    EXPECT_EQ(StringUtil::replaceAll("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(StringUtil::replaceAll("abc", "", "x"), "abc");
}

TEST(StringUtilTest, ReplacesBetweenMarkers) {
    std::string text = "x[old]y";
    EXPECT_EQ(StringUtil::replaceRangeBetweenStrings(text, "[", "]", "new", 0), 5u);
    EXPECT_EQ(text, "x[new]y");

    std::string unclosed = "x[old";
    EXPECT_EQ(StringUtil::replaceRangeBetweenStrings(unclosed, "[", "]", "new", 0), std::string::npos);
    EXPECT_EQ(unclosed, "x[old");

    std::string second = "[a][b]";
    EXPECT_EQ(StringUtil::replaceRangeBetweenStrings(second, "[", "]", "zz", 1), 5u);
    EXPECT_EQ(second, "[a][zz]");

    std::string beyond = "[a]";
    EXPECT_EQ(StringUtil::replaceRangeBetweenStrings(beyond, "[", "]", "z", 99), std::string::npos);
    EXPECT_EQ(beyond, "[a]");
}

TEST(StringUtilTest, SplitsKeepingInnerEmptyFieldsButNoTrailingOne) {
    using Fields = std::vector<std::string>;
    EXPECT_EQ(StringUtil::splitString("a,,b", ','), (Fields{"a", "", "b"}));
    EXPECT_EQ(StringUtil::splitString(",a", ','), (Fields{"", "a"}));
    EXPECT_EQ(StringUtil::splitString("a,b,", ','), (Fields{"a", "b"}));
    EXPECT_EQ(StringUtil::splitString(",", ','), (Fields{""}));
    EXPECT_EQ(StringUtil::splitString("", ','), (Fields{""}));
    EXPECT_EQ(StringUtil::splitString("abc", ','), (Fields{"abc"}));
    EXPECT_EQ(StringUtil::splitString(",,", ','), (Fields{"", ""}));
}

TEST(StringUtilTest, TrimsCLocaleWhiteSpace) {
    std::string text = " \t a b \r\n";
    StringUtil::trimString(text);
    EXPECT_EQ(text, "a b");
    std::string blank = " \v\f ";
    StringUtil::trimString(blank);
    EXPECT_EQ(blank, "");
    std::string nonBreaking = "\xC2\xA0x";
    StringUtil::trimString(nonBreaking);
    EXPECT_EQ(nonBreaking, "\xC2\xA0x");
}

// A host that sets a single-byte locale (games often call setlocale(LC_ALL, "")) must not change
// what the functions do to bytes of 0x80 and above.
TEST(StringUtilTest, IgnoresTheLocaleTheHostHasSet) {
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    const bool latin = std::setlocale(LC_CTYPE, "English_United States.1252") != nullptr ||
                       std::setlocale(LC_CTYPE, "en_US.ISO-8859-1") != nullptr;
    // Through a volatile: the compiler folds toupper of a constant as the "C" locale would.
    volatile int smallEAcute = 0xE9;
    const bool folds = latin && std::toupper(smallEAcute) == 0xC9;

    std::string text = "a\xE9";
    StringUtil::changeLetterCase(text, StringUtil::Upper);
    const bool equal = StringUtil::isEqualCaseInSensitive(std::string("\xC9"), std::string("\xE9"));
    std::string padded = "\xA0x\xA0";
    StringUtil::trimString(padded);
    const std::string hex = StringUtil::hexStrToStr("\xA0" "7");

    std::setlocale(LC_CTYPE, saved.c_str());
    if (!folds) GTEST_SKIP() << "no locale here folds bytes above 0x7F";
    EXPECT_EQ(text, "A\xE9");
    EXPECT_FALSE(equal);
    EXPECT_EQ(padded, "\xA0x\xA0");
    EXPECT_EQ(hex, std::string(1, '\0'));
}

}  // namespace
