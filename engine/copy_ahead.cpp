#include "engine/copy_ahead.h"

#include <system_error>

namespace corvane {

CopyAhead::~CopyAhead() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  work_.notify_all();
  if (thread_.joinable()) thread_.join();
  // The slots left go with their copies, unnamed or removed.
}

CopyAhead::Result CopyAhead::Stage(const Job& job) noexcept {
  Result r;
  try {
    r.ok = platform::StageCopy(job.source, job.target, r.copy, platform::StagingKind::Any, job.name_taken).ok();
  } catch (...) {
    // Out of memory at worst: the file is reported as not delivered.
    r = Result{};
  }
  return r;
}

bool CopyAhead::Offer(std::size_t n, Job job) {
  {
    std::lock_guard lock(m_);
    slots_.push_back(Slot{n, State::Offered, std::move(job), {}});
  }
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
      return false;  // the offer stays: Take stages it itself
    }
  }
  work_.notify_one();
  return true;
}

// Claims an offered slot and stages it without the lock: nobody else
// touches a claimed slot until it is done.
void CopyAhead::StageClaimed(Slot& slot, std::unique_lock<std::mutex>& lock) {
  slot.state = State::Claimed;
  lock.unlock();
  Result r = Stage(slot.job);
  lock.lock();
  slot.result = std::move(r);
  slot.state = State::Done;
  done_.notify_all();
}

CopyAhead::Slot* CopyAhead::Find(std::size_t n) {
  for (auto& s : slots_)
    if (s.n == n) return &s;
  return nullptr;
}

std::optional<CopyAhead::Result> CopyAhead::Take(std::size_t n) {
  std::unique_lock lock(m_);
  // Offers passed over are withdrawn; one being staged is waited for, as
  // its stager writes into it.
  while (!slots_.empty() && slots_.front().n < n) {
    Slot& s = slots_.front();
    done_.wait(lock, [&] { return s.state != State::Claimed; });
    slots_.pop_front();
  }
  Slot* wanted = Find(n);
  if (!wanted) return std::nullopt;
  for (;;) {
    if (wanted->state == State::Done) break;
    // Ours to stage when nobody has started it; otherwise another offer is
    // better use of the wait.
    Slot* job = wanted->state == State::Offered ? wanted : nullptr;
    if (!job)
      for (auto& s : slots_)
        if (s.state == State::Offered) {
          job = &s;
          break;
        }
    if (!job) {
      done_.wait(lock, [&] { return wanted->state == State::Done; });
      break;
    }
    StageClaimed(*job, lock);
  }
  Result r = std::move(wanted->result);
  slots_.pop_front();  // `wanted` is the first: everything below it went
  return r;
}

void CopyAhead::Loop() {
  std::unique_lock lock(m_);
  for (;;) {
    Slot* job = nullptr;
    work_.wait(lock, [&] {
      if (stop_) return true;
      for (auto& s : slots_)
        if (s.state == State::Offered) {
          job = &s;
          return true;
        }
      return false;
    });
    if (stop_) return;
    StageClaimed(*job, lock);
  }
}

}  // namespace corvane
