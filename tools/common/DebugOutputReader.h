// Serves the Windows debug-output protocol inside the process, handing every message written with
// OutputDebugString (by any module of the process) to a callback. On other systems the library's
// debug output is standard error, which needs no reader: the object then does nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace OrbaTools {

class DebugOutputReader {
public:
    // Messages arrive on a thread of the reader's own, in order.
    explicit DebugOutputReader(std::function<void(const std::string& message)> onMessage);
    // Waits until every message written before the call has been handed over.
    ~DebugOutputReader();
    DebugOutputReader(const DebugOutputReader&) = delete;
    DebugOutputReader& operator=(const DebugOutputReader&) = delete;

    // False when the protocol could not be served (another reader holds it).
    bool serving() const;
    // Hands over every message written before the call, then stops serving.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace OrbaTools
