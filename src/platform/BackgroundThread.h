// A thread of the library's own, for work that must not run on the host's thread.
#pragma once

#include <functional>

namespace ORBA {
namespace Platform {

// Runs `work` on a new thread that keeps this library's code loaded until `work` has returned:
// on Windows the thread holds a reference to the library and drops it as it ends, so that the
// host's FreeLibrary never unmaps code the thread still runs; elsewhere the library stays loaded
// for the rest of the process once such a thread has started. The thread runs below the game's
// threads: below normal priority on Windows; on Linux in the idle class, which runs when nothing
// else wants the processor (with a small share under load) and never preempts another thread.
// False when no thread could be started.
bool startBackgroundThread(std::function<void()> work);

// Called by a thread of the library's own between the steps of long work (a file made, written
// or removed): a host thread waiting for the processor this thread holds gets it now, not at the
// end of this thread's time slice, which on Linux can be a whole scheduler tick (4 ms) even at
// the least weight. Does nothing on any other thread, and costs about a system call.
void yieldToHostThreads();

// Whether library code that runs at unload or exit may wait for such a thread. On Windows that
// code runs under the loader lock, and by then the thread has either been ended by the system
// (process exit) or has already returned (unload): waiting could only deadlock.
bool mayWaitForBackgroundThreads();

}  // namespace Platform
}  // namespace ORBA
