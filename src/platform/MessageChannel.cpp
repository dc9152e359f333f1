// The text channel between processes: what both platforms share of opening, sending and
// receiving. The transport itself lives in platform/win32/ and platform/posix/.
#include "platform/MessageChannel.h"

#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <utility>

#include "orba/misc/WindowMessaging.h"
#include "platform/DebugOutput.h"
#include "platform/MessageBlock.h"

namespace ORBA {
namespace Platform {
namespace {

struct ChannelState {
    bool receiverInstalled = false;
    std::function<void(std::string)> ipcCallback;
};

// Made on the first ipcOpen, before the transport makes its own state, so that it is destroyed
// after the transport has stopped handing texts to the callback.
ChannelState& channelState() {
    static ChannelState state;
    return state;
}

// Builds the line without the heap: the failure may be the heap itself.
void writeCallbackFailure(const char* description) noexcept {
    char line[512];
    std::snprintf(line, sizeof line, "%s%s\n", kCallbackFailedText, description);
    writeDebugOutputNarrow(line);
}

}  // namespace

ProcessIdText parseProcessId(std::string_view text) {
    // The id arrives as a C++ string, but stol reads it as a C string.
    return Core::readCInt32(text.substr(0, text.find('\0')));
}

void deliverMessageBlock(const void* data, std::size_t size) noexcept {
    // The caller is the system's message dispatch or the receiver thread: nothing may escape.
    try {
        // Taken before anything else runs: the sender's block may live in a buffer that later
        // calls on this thread reuse.
        std::string text = unpackMessageText(data, size);
        writeDebugOutputNarrow(kTextReceivedText);
        const auto& callback = channelState().ipcCallback;
        if (callback) callback(std::move(text));
    } catch (const std::exception& error) {
        writeCallbackFailure(error.what());
    } catch (...) {
        writeCallbackFailure("unknown exception");
    }
}

namespace Misc {

void ipcOpen(std::function<void(std::string)> callback) {
    ChannelState& state = channelState();
    if (state.receiverInstalled) return;
    // The receiver is not running yet, so it cannot be reading the callback while it changes.
    if (callback) state.ipcCallback = std::move(callback);
    state.receiverInstalled = installMessageReceiver();
    writeDebugOutputNarrow(kReceiverInstallText);
}

void ipcSend(const std::string& processId, const std::string& message) {
    const ProcessIdText id = parseProcessId(processId);
    if (id.outcome == ProcessIdText::Outcome::NoNumber) {
        writeDebugOutputNarrow(kSendInvalidArgumentText);
        writeDebugOutputNarrow(kInvalidArgumentDescription);
        return;
    }
    if (id.outcome == ProcessIdText::Outcome::OutOfRange) {
        writeDebugOutputNarrow(kSendOutOfRangeText);
        writeDebugOutputNarrow(kOutOfRangeDescription);
        return;
    }
    // No process has an id of 0 or below that could receive; a negative id must not wrap round
    // to a large unsigned one.
    if (id.value <= 0) return;
    const std::optional<MessageBlock> block = packMessageBlock(message);
    if (!block) return;
    sendMessageBlock(static_cast<std::uint32_t>(id.value), block->data(), block->size());
}

}  // namespace Misc
}  // namespace Platform
}  // namespace ORBA
