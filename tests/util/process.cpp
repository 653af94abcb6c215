#include "util/process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace corvane::test {

namespace {

// Runs the program with `input` on its standard input, collecting its
// standard output and, when `err` is given, its standard error (otherwise
// the child writes it where we do). -1 when it could not run or was killed.
int Launch(const std::vector<std::string>& argv, const std::string& input, std::chrono::seconds timeout,
           std::string& out, std::string* err) {
  // A child that ends without reading its input must not kill us.
  ::signal(SIGPIPE, SIG_IGN);
  int in_pipe[2], out_pipe[2], err_pipe[2] = {-1, -1};
  if (::pipe(in_pipe) != 0) return -1;
  if (::pipe(out_pipe) != 0) {
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    return -1;
  }
  if (err && ::pipe(err_pipe) != 0) {
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]}) ::close(fd);
    return -1;
  }
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    if (err) ::dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      if (fd >= 0) ::close(fd);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  if (err) ::close(err_pipe[1]);
  // Feed the input from a thread so that a child writing much output while
  // we write cannot deadlock us.
  std::thread feeder([fd = in_pipe[1], &input] {
    std::size_t done = 0;
    while (done < input.size()) {
      ssize_t n = ::write(fd, input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[65536];
  bool killed = false;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err ? err_pipe[0] : -1, POLLIN, 0}};
  std::string* sinks[2] = {&out, err};
  int open_fds = err ? 2 : 1;
  while (open_fds > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    int r = ::poll(fds, 2, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
        continue;
      }
      sinks[i]->append(buf, static_cast<std::size_t>(n));
    }
  }
  for (auto& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  feeder.join();
  int status = 0;
  ::waitpid(pid, &status, 0);
  return !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::seconds timeout) {
  CommandResult result;
  result.exit_code = Launch(argv, input, timeout, result.output, nullptr);
  return result;
}

CommandOutput RunCommandCapture(const std::vector<std::string>& argv, const std::string& input,
                                std::chrono::seconds timeout) {
  CommandOutput result;
  result.exit_code = Launch(argv, input, timeout, result.out, &result.err);
  return result;
}

int ForkChild(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int rc = 1;
    try {
      rc = body();
    } catch (...) {
      rc = 2;
    }
    ::_exit(rc);
  }
  return pid;
}

int WaitChild(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1000;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1000;
}

}  // namespace corvane::test
