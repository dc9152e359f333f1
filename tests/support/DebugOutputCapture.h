// Reads back what the process writes to its real debug output while the object lives: the
// debugger stream on Windows (served in-process over the DBWIN protocol), standard error elsewhere.
#pragma once

#include <memory>
#include <string>

namespace OrbaTest {

class DebugOutputCapture {
public:
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    // Everything written since construction, in order. Ends the capture.
    std::string finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// How a UTF-8 text written with the wide debug call reads back: unchanged on Linux, in the ANSI
// code page under Windows (the DBWIN protocol carries narrow text).
std::string wideReadBack(const std::string& utf8);

}  // namespace OrbaTest
