// What the benchmarks share: timing, running the peer tools, settling the
// page cache between measures.
#pragma once

#include <chrono>
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

}  // namespace corvane::bench
