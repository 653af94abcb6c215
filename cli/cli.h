// `corvane`, the suite without windows: the folder register and settings
// files, immediate runs, suspension, journals and the container operations,
// over the same engine and files as the agent and the console.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/registry.h"

namespace corvane::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitRunError = 2;
inline constexpr int kExitAlreadyRunning = 3;
inline constexpr int kExitSuspended = 4;
inline constexpr int kExitWrongPassword = 5;

// What the tool reaches outside itself, resolved by `main`.
struct Context {
  platform::Paths paths;
  platform::Registry* registry = nullptr;
  std::string locale_language;  // e.g. "Français (France)"
  std::FILE* out = stdout;      // journal lines, listings, help asked for
  std::FILE* err = stderr;      // messages and the progress line
  int in_fd = 0;                // standard input (secrets piped in)
  bool in_is_terminal = false;
  bool err_is_terminal = false;
  // Interrupts (Ctrl-C, SIGTERM, SIGHUP) during a run become a suspension
  // request: the tool blocks them before the run's thread starts, so that
  // only it takes them. Only for a process with no other thread.
  bool handle_interrupts = false;
};

// `args` excludes the program name. Returns the exit status.
int Run(const std::vector<std::string>& args, Context& ctx);

}  // namespace corvane::cli
