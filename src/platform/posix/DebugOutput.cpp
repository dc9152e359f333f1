#include "platform/DebugOutput.h"

#include <unistd.h>

#include <cstring>
#include <string>

#include "core/Utf.h"

namespace ORBA {
namespace Platform {
namespace {

void writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, size);
        if (written <= 0) return;  // a debug stream that refuses bytes is not worth failing over
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace

void writeDebugOutputWide(const char16_t* text) {
    std::string utf8;
    try {
        utf8 = Core::utf16ToUtf8(std::u16string_view(text));
    } catch (...) {
        return;  // the Windows stream would substitute characters; here the message is dropped
    }
    writeAll(utf8.data(), utf8.size());
}

void writeDebugOutputNarrow(const char* text) { writeAll(text, std::strlen(text)); }

}  // namespace Platform
}  // namespace ORBA
