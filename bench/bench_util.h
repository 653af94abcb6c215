// What the benchmarks share: timing, running the peer tools, settling the
// page cache between measures.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace corvane::bench {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since);

// Runs a program found on PATH and waits for it; its exit status, -1 when
// it did not exit normally.
int Run(const std::vector<std::string>& argv);

// Runs it and ends the benchmark when it fails: a figure measured over a
// failed peer would mean nothing.
void MustRun(const std::vector<std::string>& argv);

// The time MustRun took.
double TimeCommand(const std::vector<std::string>& argv);

// Writes out what earlier steps left dirty, so that no measurement pays for
// another's write-back.
void Settle();

// Empties `dir` for a benchmark's use and marks it as such. A folder that
// holds files but not the mark (someone's own, named by mistake) ends the
// benchmark untouched: it would otherwise be emptied.
void ClaimWorkDir(const std::filesystem::path& dir);

// Ends the benchmark with its usage line, for an option it does not know.
[[noreturn]] void Usage(const char* usage);

}  // namespace corvane::bench
