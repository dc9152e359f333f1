// What the channel does without a receiver; the transports have their own tests.
#include <gtest/gtest.h>

#include "orba/misc/WindowMessaging.h"
#include "platform/MessageTransport.h"
#include "support/DebugOutputCapture.h"

namespace {

using ORBA::Platform::Misc::ipcSend;
using OrbaTest::DebugOutputCapture;

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
