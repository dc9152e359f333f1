#include "orba/StringUtil.h"

#include <climits>

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

}  // namespace
