#include "orba/Logger.h"

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "core/LogSink.h"
#include "core/Utf.h"
#include "core/KeptForever.h"

namespace ORBA {
namespace Core {
namespace {

std::atomic<LogSink*> setSink{nullptr};

LogSink& currentSink() {
    LogSink* const sink = setSink.load();
    return sink != nullptr ? *sink : defaultLogSink();
}

}  // namespace

LogSink* setLogSink(LogSink* sink) { return setSink.exchange(sink); }

namespace {

struct LogCallback {
    void (*raw)(void* user, const char* text, std::size_t length) = nullptr;
    void* user = nullptr;
    std::function<void(const std::string& line)> function;
};

// Never destroyed: a thread may log while the process exits.
std::mutex& callbackMutex() {
    static std::mutex& mutex = keptForever<std::mutex>();
    return mutex;
}
std::shared_ptr<const LogCallback>& callbackSlot() {
    static std::shared_ptr<const LogCallback>& slot = keptForever<std::shared_ptr<const LogCallback>>();
    return slot;
}
std::atomic<bool> callbackSet{false};

void installCallback(std::shared_ptr<const LogCallback> callback) {
    const std::lock_guard<std::mutex> lock(callbackMutex());
    callbackSet = callback != nullptr;
    callbackSlot() = std::move(callback);
}

// The callback set now, taken under the lock but called without it, so that it may log or set
// another callback itself.
std::shared_ptr<const LogCallback> currentCallback() {
    if (!callbackSet.load()) return nullptr;
    const std::lock_guard<std::mutex> lock(callbackMutex());
    return callbackSlot();
}

}  // namespace

void setRawLogCallback(void (*callback)(void* user, const char* text, std::size_t length),
                       void* user) {
    if (callback == nullptr) {
        installCallback(nullptr);
        return;
    }
    auto made = std::make_shared<LogCallback>();
    made->raw = callback;
    made->user = user;
    installCallback(std::move(made));
}

namespace Logger {

std::atomic<bool> LogSetting::useOrbaCoreLog{false};

bool LogSetting::getUseOrbaCoreLog() { return useOrbaCoreLog; }

void LogSetting::setUseOrbaCoreLog(bool use) { useOrbaCoreLog = use; }

namespace {

const std::size_t kMaxLineBytes = 1024;

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The length of the longest prefix of `text` that fits one line and does not split a character.
// Ill-formed text is cut at most three bytes early, as a character is at most four bytes long.
std::size_t lineLength(const std::string& text) {
    if (text.size() <= kMaxLineBytes) return text.size();
    std::size_t length = kMaxLineBytes;
    for (int backed = 0; backed < 3 && length > 0 && isContinuationByte(text[length]); ++backed) {
        --length;
    }
    return length;
}

}  // namespace

void setLogCallback(std::function<void(const std::string& line)> callback) {
    if (!callback) {
        installCallback(nullptr);
        return;
    }
    auto made = std::make_shared<LogCallback>();
    made->function = std::move(callback);
    installCallback(std::move(made));
}

void Log(const std::string& text) { Log(text, false); }

void Log(const std::string& text, bool force) {
    if (!force && !LogSetting::getUseOrbaCoreLog()) return;
    try {
        // A host value (an event name, a whole command) can be megabytes long; a diagnostic line
        // never needs to be.
        const std::string line = text.substr(0, lineLength(text));
        if (const std::shared_ptr<const LogCallback> callback = currentCallback()) {
            if (callback->raw != nullptr) {
                callback->raw(callback->user, line.data(), line.size());
            } else {
                try {
                    callback->function(line);
                } catch (...) {
                    // The host's callback is the host's: its failure is not the caller's.
                }
            }
            return;
        }
        LogSink& sink = currentSink();
        try {
            const std::u16string wide = utf8ToUtf16(line);
            sink.writeWide(wide.c_str());
        } catch (const std::exception& error) {
            sink.writeNarrow(line.c_str());
            const std::string message = std::string("[Loogger] Exception Occur! : ") + error.what();
            sink.writeNarrow(message.c_str());
        }
        sink.writeNarrow("\n");
    } catch (...) {
        // Logging must never take its caller down, not even when memory runs out.
    }
}

}  // namespace Logger
}  // namespace Core
}  // namespace ORBA
