#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "support/DebugOutputCapture.h"

#include <stdexcept>
#include <string>
#include <thread>

namespace OrbaTest {
namespace {

// Written at the end of a capture so that the reader knows it has seen every earlier message.
const char kEndMarker[] = "\x01orba-test-capture-end\x01";

}  // namespace

struct DebugOutputCapture::Impl {
    HANDLE bufferReady = nullptr;
    HANDLE dataReady = nullptr;
    HANDLE mapping = nullptr;
    const char* view = nullptr;
    std::thread reader;
    std::string text;
    bool finished = false;

    void run() {
        for (;;) {
            SetEvent(bufferReady);
            if (WaitForSingleObject(dataReady, 10000) != WAIT_OBJECT_0) return;
            // A DWORD process id, then the NUL-terminated text.
            const std::string message(view + sizeof(DWORD));
            if (message == kEndMarker) return;
            text += message;
        }
    }
};

DebugOutputCapture::DebugOutputCapture() : impl_(std::make_unique<Impl>()) {
    impl_->bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    impl_->dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    impl_->mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    if (!impl_->bufferReady || !impl_->dataReady || !impl_->mapping) {
        throw std::runtime_error("cannot serve the debug output");
    }
    impl_->view = static_cast<const char*>(MapViewOfFile(impl_->mapping, FILE_MAP_READ, 0, 0, 4096));
    if (impl_->view == nullptr) throw std::runtime_error("cannot map the debug output buffer");
    impl_->reader = std::thread([impl = impl_.get()] { impl->run(); });
}

DebugOutputCapture::~DebugOutputCapture() { finish(); }

std::string DebugOutputCapture::finish() {
    if (impl_->finished) return std::string();
    impl_->finished = true;
    OutputDebugStringA(kEndMarker);
    impl_->reader.join();
    UnmapViewOfFile(impl_->view);
    CloseHandle(impl_->mapping);
    CloseHandle(impl_->dataReady);
    CloseHandle(impl_->bufferReady);
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
