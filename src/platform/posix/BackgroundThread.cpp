#include "platform/BackgroundThread.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <system_error>
#include <thread>
#include <utility>

namespace ORBA {
namespace Platform {
namespace {

// A dlclose by the host would unmap code that a detached thread may still run, and unlike
// Windows there is no way for a thread to drop the last reference and end in one step. The
// library is marked never to be unloaded instead; a program linking the code directly has
// nothing to pin.
void pinThisLibrary() {
    static const bool pinned = [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&pinThisLibrary), &info) == 0 ||
            info.dli_fname == nullptr) {
            return false;
        }
        // The added reference is never dropped: that is the point.
        return ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
    }();
    (void)pinned;
}

thread_local bool tlsLibraryThread = false;

}  // namespace

bool startBackgroundThread(std::function<void()> work) {
    pinThisLibrary();
    try {
        std::thread([work = std::move(work)] {
            // Idle-class threads get the processor when nothing else wants it and never preempt
            // another thread: a host's thread handing work over is not held up by the work
            // itself, and a thread that wakes (a kernel worker, another program) is placed on a
            // processor running only such threads rather than on the game's. Under load they
            // still get a small share, so delivery slows but does not stop.
            const sched_param parameters{};
            ::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &parameters);
            // The least weight too, for kernels that treat the class as a hint. The niceness of
            // a Linux thread is its own.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
            tlsLibraryThread = true;
            work();
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void yieldToHostThreads() {
    if (tlsLibraryThread) ::sched_yield();
}

bool mayWaitForBackgroundThreads() { return true; }

}  // namespace Platform
}  // namespace ORBA
