#include "bench/bench_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace corvane::bench {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int Run(const std::vector<std::string>& argv) {
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MustRun(const std::vector<std::string>& argv) {
  if (Run(argv) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
}

double TimeCommand(const std::vector<std::string>& argv) {
  auto t0 = Clock::now();
  MustRun(argv);
  return Seconds(t0);
}

void Settle() { ::sync(); }

namespace {
constexpr const char* kWorkMark = ".corvane-bench-work";
}

void ClaimWorkDir(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::exists(dir, ec) && !fs::is_empty(dir, ec) && !fs::exists(dir / kWorkMark, ec)) {
    std::fprintf(stderr, "%s exists and is not a benchmark's work folder: left alone\n", dir.c_str());
    std::exit(2);
  }
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / kWorkMark).put('\n');
}

void Usage(const char* usage) {
  std::fprintf(stderr, "usage: %s\n", usage);
  std::exit(2);
}

}  // namespace corvane::bench
