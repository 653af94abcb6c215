#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace corvane::test {

struct CommandResult {
  int exit_code = -1;  // -1 when the command could not run or was killed
  std::string output;  // standard output
};

// Runs a program (no shell) with the given arguments and optional standard
// input, waiting at most `timeout` before killing it.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = {},
                         std::chrono::seconds timeout = std::chrono::seconds(120));

struct CommandOutput {
  int exit_code = -1;  // -1 when the command could not run or was killed
  std::string out;     // standard output
  std::string err;     // standard error
};

// The same, keeping standard error apart from standard output.
CommandOutput RunCommandCapture(const std::vector<std::string>& argv, const std::string& input = {},
                                std::chrono::seconds timeout = std::chrono::seconds(120));

// Runs `body` in a forked child that exits with its result; returns the pid.
int ForkChild(const std::function<int()>& body);
// Waits for a child; returns its exit code, or -signal when it was killed.
int WaitChild(int pid);

}  // namespace corvane::test
