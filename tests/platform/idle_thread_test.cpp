#include "platform/idle_thread.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

namespace corvane::platform {
namespace {

constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr auto kBound = std::chrono::seconds(60);

int IoClassOfThread(int tid) {
  long v = ::syscall(SYS_ioprio_get, kIoprioWhoProcess, tid);
  return v < 0 ? -1 : static_cast<int>(v >> 13);
}

// Sets its promise when destroyed: the thread has let go of its work.
struct Released {
  std::promise<void> done;
  ~Released() { done.set_value(); }
};

TEST(IdleThread, RunsAtIdleCpuAndIoPriorityWithoutLoweringItsCreator) {
  struct Seen {
    int policy = -1;
    int io_class = -1;
  };
  int creator_policy = ::sched_getscheduler(0);
  int creator_io = IoClassOfThread(static_cast<int>(::gettid()));
  ASSERT_NE(creator_policy, SCHED_IDLE);
  ASSERT_NE(creator_io, kIoprioClassIdle);

  auto seen = std::make_shared<std::promise<Seen>>();
  auto future = seen->get_future();
  ASSERT_TRUE(StartIdleThread([seen] { seen->set_value({::sched_getscheduler(0), IoClassOfThread(0)}); }));
  ASSERT_EQ(future.wait_for(kBound), std::future_status::ready);
  Seen s = future.get();
  EXPECT_EQ(s.policy, SCHED_IDLE);
  EXPECT_EQ(s.io_class, kIoprioClassIdle);
  // Only the new thread was lowered; the creator's id is also the process id.
  EXPECT_EQ(::sched_getscheduler(0), creator_policy);
  EXPECT_EQ(IoClassOfThread(static_cast<int>(::gettid())), creator_io);
  EXPECT_EQ(IoClassOfThread(static_cast<int>(::getpid())), creator_io);
}

TEST(IdleThread, ExceptionsReachTheHandlerAndNeverLeaveTheThread) {
  struct Case {
    const char* what;
    std::function<void()> thrower;
    std::string expected;
  };
  const Case cases[] = {
      {"std exception", [] { throw std::runtime_error("boom"); }, "boom"},
      {"not an exception class", [] { throw 42; }, "int 42"},
  };
  for (const auto& c : cases) {
    // Shared with the thread, which may still hold it after the test moved on.
    auto reported = std::make_shared<std::promise<std::string>>();
    auto future = reported->get_future();
    ASSERT_TRUE(StartIdleThread(c.thrower, [reported](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        reported->set_value(ex.what());
      } catch (int n) {
        reported->set_value("int " + std::to_string(n));
      }
    }));
    ASSERT_EQ(future.wait_for(kBound), std::future_status::ready) << c.what;
    EXPECT_EQ(future.get(), c.expected) << c.what;
  }
}

TEST(IdleThread, WithoutHandlerOrWithAThrowingOneTheProcessGoesOn) {
  for (bool with_handler : {false, true}) {
    auto released = std::make_shared<Released>();
    auto future = released->done.get_future();
    ThreadErrorHandler handler;
    if (with_handler) handler = [](std::exception_ptr) { throw std::logic_error("handler fails too"); };
    ASSERT_TRUE(StartIdleThread([r = std::move(released)] { throw std::runtime_error("unhandled"); }, handler));
    // Reaching here and seeing the work released means the thread ended
    // normally: an escaping exception would have terminated the process.
    ASSERT_EQ(future.wait_for(kBound), std::future_status::ready) << with_handler;
  }
}

TEST(IdleThread, WorkIsReleasedByItsThreadOnceDone) {
  auto released = std::make_shared<Released>();
  auto future = released->done.get_future();
  auto ran = std::make_shared<std::promise<int>>();
  auto ran_future = ran->get_future();
  ASSERT_TRUE(StartIdleThread([r = std::move(released), ran] { ran->set_value(7); }));
  ASSERT_EQ(ran_future.wait_for(kBound), std::future_status::ready);
  EXPECT_EQ(ran_future.get(), 7);
  ASSERT_EQ(future.wait_for(kBound), std::future_status::ready);
}

}  // namespace
}  // namespace corvane::platform
