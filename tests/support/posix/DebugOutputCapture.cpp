#include "support/DebugOutputCapture.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace OrbaTest {

struct DebugOutputCapture::Impl {
    int savedStderr = -1;
    std::FILE* file = nullptr;
    bool finished = false;
};

DebugOutputCapture::DebugOutputCapture() : impl_(std::make_unique<Impl>()) {
    std::fflush(stderr);
    impl_->file = std::tmpfile();
    if (impl_->file == nullptr) throw std::runtime_error("tmpfile failed");
    impl_->savedStderr = ::dup(STDERR_FILENO);
    ::dup2(::fileno(impl_->file), STDERR_FILENO);
}

DebugOutputCapture::~DebugOutputCapture() { finish(); }

std::string DebugOutputCapture::finish() {
    if (impl_->finished) return std::string();
    impl_->finished = true;
    std::fflush(stderr);
    ::dup2(impl_->savedStderr, STDERR_FILENO);
    ::close(impl_->savedStderr);
    std::string text;
    std::rewind(impl_->file);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, impl_->file)) > 0) text.append(buffer, n);
    std::fclose(impl_->file);
    return text;
}

std::string wideReadBack(const std::string& utf8) { return utf8; }

}  // namespace OrbaTest
