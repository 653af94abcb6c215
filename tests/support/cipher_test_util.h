// Helpers shared by the cipher, container and stored-secret tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "util/process.h"

namespace corvane::test {

inline std::string Hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline std::string Unhex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

// Field for the oracle: hex, "-" for no bytes.
inline std::string Field(std::string_view bytes) { return bytes.empty() ? "-" : Hex(bytes); }
inline std::string FromField(std::string_view field) { return field == "-" ? std::string() : Unhex(field); }

inline std::string RandomBytes(std::mt19937& rng, std::size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// Runs tests/oracle/cast_oracle.py once over a batch of case lines and
// returns its answers, one per case. Fails the test when the oracle cannot
// run: a missing Python or Cryptodome is a broken test environment.
inline std::vector<std::string> RunOracle(const std::vector<std::string>& cases) {
  std::string input;
  for (const auto& c : cases) input += c + "\n";
  CommandResult r = RunCommand({CORVANE_PYTHON, CORVANE_SOURCE_DIR "/tests/oracle/cast_oracle.py"}, input);
  EXPECT_EQ(r.exit_code, 0) << "oracle failed to run (" << CORVANE_PYTHON << ", Cryptodome)";
  std::vector<std::string> lines;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines.size(), cases.size()) << "oracle answered " << lines.size() << " of " << cases.size();
  lines.resize(cases.size());
  return lines;
}

}  // namespace corvane::test
