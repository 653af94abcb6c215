#include "platform/idle_thread.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace corvane::platform {
namespace {

// From linux/ioprio.h, which glibc does not wrap.
constexpr int kIoprioWhoProcess = 1;  // a thread id names that thread alone
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

}  // namespace

bool LowerCurrentThreadToIdle() {
  // For Linux both calls take 0 or a thread id as "this thread", not the
  // whole process.
  sched_param param{};
  param.sched_priority = 0;
  bool cpu = ::sched_setscheduler(0, SCHED_IDLE, &param) == 0;
  bool io = ::syscall(SYS_ioprio_set, kIoprioWhoProcess, static_cast<int>(::gettid()),
                      kIoprioClassIdle << kIoprioClassShift) == 0;
  return cpu && io;
}

bool StartIdleThread(std::function<void()> work, ThreadErrorHandler on_error) {
  try {
    std::thread([work = std::move(work), on_error = std::move(on_error)]() noexcept {
      LowerCurrentThreadToIdle();
      try {
        if (work) work();
      } catch (...) {
        if (on_error) {
          try {
            on_error(std::current_exception());
          } catch (...) {
          }
        }
      }
    }).detach();
    return true;
  } catch (...) {
    // No thread (std::system_error) or no memory for its state.
    return false;
  }
}

}  // namespace corvane::platform
