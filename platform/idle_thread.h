// Runs of the engine work at the lowest CPU and disk priority so that the
// machine's user hardly notices them.
#pragma once

#include <exception>
#include <functional>

namespace corvane::platform {

// Told of an exception that ended a piece of work.
using ThreadErrorHandler = std::function<void(std::exception_ptr)>;

// Starts `work` in a detached thread of its own that first lowers itself to
// SCHED_IDLE and the idle I/O class; when the system refuses either, the
// work runs anyway at the priority it has. Nothing the work throws leaves
// the thread: it goes to `on_error` when given, else it is dropped (an
// exception from `on_error` itself is dropped too). Returns false, without
// running anything, when no thread could be started.
bool StartIdleThread(std::function<void()> work, ThreadErrorHandler on_error = {});

// What StartIdleThread does first, for the calling thread; true when both
// priorities were lowered.
bool LowerCurrentThreadToIdle();

}  // namespace corvane::platform
