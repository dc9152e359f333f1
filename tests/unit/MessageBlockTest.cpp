#include <gtest/gtest.h>

#include "platform/MessageBlock.h"

namespace {

using ORBA::Platform::kMessageBlockSize;

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
