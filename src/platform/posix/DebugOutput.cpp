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
    // Characters substituted as the Windows stream does, rather than the message lost.
    const std::string utf8 = Core::utf16ToUtf8Lossy(std::u16string_view(text));
    writeAll(utf8.data(), utf8.size());
}

void writeDebugOutputNarrow(const char* text) { writeAll(text, std::strlen(text)); }

}  // namespace Platform
}  // namespace ORBA
