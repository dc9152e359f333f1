#include "core/Utf.h"

#include <stdexcept>

#include <gtest/gtest.h>

using ORBA::Core::utf16ToUtf8;
using ORBA::Core::utf16ToUtf8Lossy;
using ORBA::Core::utf8ToUtf16;

namespace {

void expectBadUtf8(const std::string& text) {
    try {
        utf8ToUtf16(text);
        ADD_FAILURE() << "accepted ill-formed UTF-8";
    } catch (const std::range_error& error) {
        EXPECT_STREQ(error.what(), "bad conversion");
    }
}

TEST(UtfTest, RoundTripsEveryEncodingLength) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A é € 😀
    const std::u16string wide = utf8ToUtf16(text);
    EXPECT_EQ(wide, (std::u16string{u'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(utf16ToUtf8(wide), text);
    EXPECT_EQ(utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(utf8ToUtf16("\xF4\x8F\xBF\xBF"), (std::u16string{0xDBFF, 0xDFFF}));  // U+10FFFF
    EXPECT_EQ(utf8ToUtf16(""), u"");
}

TEST(UtfTest, RejectsIllFormedUtf8) {
    expectBadUtf8("\x80");              // lone continuation byte
    expectBadUtf8("a\xC3");             // truncated at the end
    expectBadUtf8("\xC3(");             // missing continuation
    expectBadUtf8("\xC0\xAF");          // overlong
    expectBadUtf8("\xE0\x80\xAF");      // overlong
    expectBadUtf8("\xED\xA0\x80");      // encoded surrogate
    expectBadUtf8("\xF4\x90\x80\x80");  // above U+10FFFF
    expectBadUtf8("\xFF");
}

TEST(UtfTest, RejectsUnpairedSurrogates) {
    for (const std::u16string& text :
         {std::u16string{0xD800}, std::u16string{0xDC00, u'a'}, std::u16string{0xD800, u'a'}}) {
        try {
            utf16ToUtf8(text);
            ADD_FAILURE() << "accepted an unpaired surrogate";
        } catch (const std::range_error& error) {
            EXPECT_STREQ(error.what(), "bad conversion");
        }
    }
}

TEST(UtfTest, LossyFormReplacesOnlyUnpairedSurrogates) {
    EXPECT_EQ(utf16ToUtf8Lossy(std::u16string{0xD800}), "\xEF\xBF\xBD");
    EXPECT_EQ(utf16ToUtf8Lossy(std::u16string{0xDC00, u'a'}), "\xEF\xBF\xBD" "a");
    EXPECT_EQ(utf16ToUtf8Lossy(std::u16string{0xD800, u'a', 0xD83D, 0xDE00}),
              "\xEF\xBF\xBD" "a\xF0\x9F\x98\x80");
}

}  // namespace
