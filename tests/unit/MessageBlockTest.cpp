#include <gtest/gtest.h>

#include "platform/MessageBlock.h"

namespace {

using ORBA::Platform::kMessageBlockSize;
using ORBA::Platform::parseProcessId;
using Outcome = ORBA::Platform::ProcessIdText::Outcome;

void expectNumber(const std::string& text, std::int32_t value) {
    const auto parsed = parseProcessId(text);
    EXPECT_EQ(parsed.outcome, Outcome::Number) << '"' << text << '"';
    EXPECT_EQ(parsed.value, value) << '"' << text << '"';
}

void expectOutcome(const std::string& text, Outcome outcome) {
    EXPECT_EQ(parseProcessId(text).outcome, outcome) << '"' << text << '"';
}

TEST(MessageBlockTest, ProcessIdIsReadLikeA32BitStol) {
    expectNumber("1234", 1234);
    expectNumber(" \t\n\v\f\r+42", 42);
    expectNumber("12abc", 12);
    expectNumber("-7", -7);
    expectNumber("0x10", 0);
    expectNumber("000000000000000000000042", 42);
    expectNumber("2147483647", 2147483647);
    expectNumber("-2147483648", -2147483647 - 1);
    expectNumber(std::string("12\0"
                             "34",
                             5),
                 12);

    expectOutcome("", Outcome::NoNumber);
    expectOutcome("abc", Outcome::NoNumber);
    expectOutcome("-", Outcome::NoNumber);
    expectOutcome("+-5", Outcome::NoNumber);
    expectOutcome(" x12", Outcome::NoNumber);
    expectOutcome(std::string("\0"
                              "12",
                              3),
                  Outcome::NoNumber);

    expectOutcome("2147483648", Outcome::OutOfRange);
    expectOutcome("-2147483649", Outcome::OutOfRange);
    expectOutcome("4294967296", Outcome::OutOfRange);
    expectOutcome("123456789012345678901234567890abc", Outcome::OutOfRange);
}

TEST(MessageBlockTest, BlockHoldsTheTextUpToItsNulThenZeros) {
    const auto block = ORBA::Platform::packMessageBlock(std::string("cut\0here", 8));
    ASSERT_TRUE(block.has_value());
    ORBA::Platform::MessageBlock expected{};
    expected[0] = 'c';
    expected[1] = 'u';
    expected[2] = 't';
    EXPECT_EQ(*block, expected);

    const auto empty = ORBA::Platform::packMessageBlock("");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(*empty, ORBA::Platform::MessageBlock{});
}

TEST(MessageBlockTest, AtMost9999BytesTravel) {
    const std::string longest(kMessageBlockSize - 1, 'x');
    const auto block = ORBA::Platform::packMessageBlock(longest);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(std::string(block->data(), kMessageBlockSize - 1), longest);
    EXPECT_EQ((*block)[kMessageBlockSize - 1], '\0');
    EXPECT_EQ(ORBA::Platform::unpackMessageText(block->data(), block->size()), longest);

    EXPECT_FALSE(ORBA::Platform::packMessageBlock(std::string(kMessageBlockSize, 'y')));
    // The limit counts the whole message, also the bytes after a NUL that would not travel.
    EXPECT_FALSE(ORBA::Platform::packMessageBlock("a" + std::string(kMessageBlockSize, '\0')));
}

TEST(MessageBlockTest, ReceivedTextEndsAtTheFirstNulOrTheBlocksEnd) {
    const char data[] = "hello\0world";
    EXPECT_EQ(ORBA::Platform::unpackMessageText(data, sizeof data), "hello");
    // A foreign sender's block without a NUL: never read past its size.
    EXPECT_EQ(ORBA::Platform::unpackMessageText(data, 3), "hel");
    EXPECT_EQ(ORBA::Platform::unpackMessageText(data, 0), "");
    EXPECT_EQ(ORBA::Platform::unpackMessageText(nullptr, 10000), "");
}

}  // namespace
