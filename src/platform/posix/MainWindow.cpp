#include "platform/MainWindow.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace ORBA {
namespace Platform {

namespace {

// 0 until asked; forgotten in a forked child, which has a process id of its own.
std::atomic<std::uint32_t> cachedProcessId{0};

void forgetProcessId() { cachedProcessId.store(0, std::memory_order_relaxed); }

}  // namespace

// Asked for every stored request: kept rather than a system call each time.
std::uint32_t currentProcessId() {
    static const bool watchingForks = ::pthread_atfork(nullptr, nullptr, forgetProcessId) == 0;
    std::uint32_t id = cachedProcessId.load(std::memory_order_relaxed);
    if (id == 0 || !watchingForks) {
        id = static_cast<std::uint32_t>(::getpid());
        cachedProcessId.store(id, std::memory_order_relaxed);
    }
    return id;
}

// The library talks to no window system on Linux, so the process has no main window to measure.
std::vector<TopLevelWindow> listTopLevelWindows() { return {}; }

bool readClientSize(std::uintptr_t, ClientSize&) { return false; }

}  // namespace Platform
}  // namespace ORBA
