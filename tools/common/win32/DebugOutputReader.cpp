#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "DebugOutputReader.h"

#include <thread>

namespace OrbaTools {
namespace {

// Written by stop() so that the reader knows it has seen every earlier message.
const char kEndMarker[] = "\x01orba-debug-output-end\x01";

}  // namespace

struct DebugOutputReader::Impl {
    std::function<void(const std::string&)> onMessage;
    HANDLE bufferReady = nullptr;
    HANDLE dataReady = nullptr;
    HANDLE mapping = nullptr;
    const char* view = nullptr;
    std::thread reader;
    bool serving = false;

    void run() {
        for (;;) {
            SetEvent(bufferReady);
            if (WaitForSingleObject(dataReady, INFINITE) != WAIT_OBJECT_0) return;
            // A DWORD process id, then the NUL-terminated text.
            const std::string message(view + sizeof(DWORD));
            if (message == kEndMarker) return;
            onMessage(message);
        }
    }

    void close() {
        if (view != nullptr) UnmapViewOfFile(view);
        for (HANDLE handle : {mapping, dataReady, bufferReady}) {
            if (handle != nullptr) CloseHandle(handle);
        }
        view = nullptr;
        mapping = dataReady = bufferReady = nullptr;
    }
};

DebugOutputReader::DebugOutputReader(std::function<void(const std::string&)> onMessage)
    : impl_(std::make_unique<Impl>()) {
    impl_->onMessage = std::move(onMessage);
    impl_->bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    const bool taken = GetLastError() == ERROR_ALREADY_EXISTS;
    impl_->dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    impl_->mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    if (taken || !impl_->bufferReady || !impl_->dataReady || !impl_->mapping) {
        impl_->close();
        return;
    }
    impl_->view = static_cast<const char*>(MapViewOfFile(impl_->mapping, FILE_MAP_READ, 0, 0, 4096));
    if (impl_->view == nullptr) {
        impl_->close();
        return;
    }
    impl_->serving = true;
    impl_->reader = std::thread([impl = impl_.get()] { impl->run(); });
}

DebugOutputReader::~DebugOutputReader() { stop(); }

bool DebugOutputReader::serving() const { return impl_->serving; }

void DebugOutputReader::stop() {
    if (!impl_->serving) return;
    impl_->serving = false;
    OutputDebugStringA(kEndMarker);
    impl_->reader.join();
    impl_->close();
}

}  // namespace OrbaTools
