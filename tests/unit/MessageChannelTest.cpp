// What the channel does without a receiver; the transports have their own tests.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "orba/misc/WindowMessaging.h"
#include "platform/MessageChannel.h"
#include "support/DebugOutputCapture.h"

namespace {

using ORBA::Platform::Misc::ipcSend;
using OrbaTest::DebugOutputCapture;
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

TEST(MessageChannelTest, ProcessIdIsReadLikeA32BitStol) {
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


TEST(MessageChannelTest, UnreadableProcessIdsWriteTheParseErrorAndSendNothing) {
    DebugOutputCapture capture;
    ipcSend("", "text");
    ipcSend("letters", "text");
    ipcSend("2147483648", "text");
    ipcSend("-99999999999", "text");
    EXPECT_EQ(capture.finish(),
              "ipc Send Test std::invalid_argumentinvalid stol argument"
              "ipc Send Test std::invalid_argumentinvalid stol argument"
              "ipc Send Test std::exceptionstol argument out of range"
              "ipc Send Test std::exceptionstol argument out of range");
}

TEST(MessageChannelTest, IdsOfNoProcessAndOverlongMessagesEndQuietly) {
    DebugOutputCapture capture;
    ipcSend("0", "text");
    ipcSend("-4", "text");
    ipcSend("  12abc", std::string(10000, 'x'));
    EXPECT_EQ(capture.finish(), "");
}

TEST(MessageChannelTest, ReceivedBlockIsAnnouncedEvenWithoutCallback) {
    DebugOutputCapture capture;
    const char block[] = "text";
    ORBA::Platform::deliverMessageBlock(block, sizeof block);
    ORBA::Platform::deliverMessageBlock(nullptr, 0);
    EXPECT_EQ(capture.finish(),
              "################   Copy Data Called ##############################\n"
              "################   Copy Data Called ##############################\n");
}

}  // namespace
