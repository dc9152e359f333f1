#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "support/DebugOutputCapture.h"

#include <stdexcept>
#include <string>

#include "DebugOutputReader.h"

namespace OrbaTest {

struct DebugOutputCapture::Impl {
    std::string text;
    OrbaTools::DebugOutputReader reader{[this](const std::string& message) { text += message; }};
    bool finished = false;
};

DebugOutputCapture::DebugOutputCapture() : impl_(std::make_unique<Impl>()) {
    if (!impl_->reader.serving()) throw std::runtime_error("cannot serve the debug output");
}

DebugOutputCapture::~DebugOutputCapture() { finish(); }

std::string DebugOutputCapture::finish() {
    if (impl_->finished) return std::string();
    impl_->finished = true;
    impl_->reader.stop();
    return impl_->text;
}

std::string wideReadBack(const std::string& utf8) {
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                               nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        wideLength);
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

}  // namespace OrbaTest
