// Plain copies staged ahead of a run on a second core. The run still takes
// its files one by one in order and delivers them itself; a copy staged
// ahead is only the same work done earlier, and one never taken is
// discarded (an unnamed copy leaves nothing behind).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/files.h"

namespace corvane {

class CopyAhead {
 public:
  struct Job {
    std::filesystem::path source;
    std::filesystem::path target;
    std::optional<bool> name_taken;
  };
  struct Result {
    bool ok = false;
    platform::StagedCopy copy;
  };

  CopyAhead() = default;
  ~CopyAhead();
  CopyAhead(const CopyAhead&) = delete;
  CopyAhead& operator=(const CopyAhead&) = delete;

  // Offers job number `n`; numbers are offered in increasing order. The
  // helper starts with the first offer; false when it cannot start.
  bool Offer(std::size_t n, Job job);
  // Job `n`'s result when it was offered: the helper's, or the caller's
  // own, staging another offered job meanwhile rather than waiting. Every
  // offer below `n` is withdrawn. Nothing when `n` was never offered.
  std::optional<Result> Take(std::size_t n);

 private:
  enum class State { Offered, Claimed, Done };
  struct Slot {
    std::size_t n;
    State state = State::Offered;
    Job job;
    Result result;
  };

  static Result Stage(const Job& job) noexcept;
  Slot* Find(std::size_t n);
  void StageClaimed(Slot& slot, std::unique_lock<std::mutex>& lock);
  void Loop();

  std::mutex m_;
  std::condition_variable work_;  // an offer, or the end
  std::condition_variable done_;  // a job finished
  std::deque<Slot> slots_;        // by increasing number
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace corvane
