// An open file descriptor closed when it goes.
#pragma once

#include <unistd.h>

#include <utility>

namespace corvane::platform {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  // Closes now so that a late write error (NFS, quota) can be seen; 0 or -1.
  int Close() {
    if (fd_ < 0) return 0;
    return ::close(std::exchange(fd_, -1));
  }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace corvane::platform
