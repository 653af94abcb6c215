// Archives as other ZIP readers see them: Python's zipfile through
// tests/oracle/zip_oracle.py, and `unzip -t`.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "util/process.h"

namespace corvane::test {

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// One entry as Python's zipfile reads it.
struct PyEntry {
  std::string name;
  int method = -1;  // 0 stored, 8 deflated
  std::uint64_t size = 0, compressed = 0;
  bool encrypted = false;
  std::string when;     // Y-M-D-h-m-s
  std::string content;  // hex
};

// The archive through Python's zipfile; nullopt when it cannot be read whole.
inline std::optional<std::vector<PyEntry>> PyRead(const std::filesystem::path& archive,
                                                  const std::string& password = {}) {
  std::vector<std::string> argv = {CORVANE_PYTHON, std::string(CORVANE_SOURCE_DIR) + "/tests/oracle/zip_oracle.py",
                                   archive.string()};
  if (!password.empty()) argv.push_back(password);
  auto r = RunCommand(argv);
  if (r.exit_code != 0) return std::nullopt;
  std::vector<PyEntry> out;
  std::istringstream lines(r.output);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    std::string x;
    while (std::getline(fields, x, '\t')) f.push_back(x);
    if (f.size() == 6) f.push_back("");  // empty content
    EXPECT_EQ(f.size(), 7u) << line;
    if (f.size() != 7) continue;
    out.push_back({f[0], std::stoi(f[1]), std::stoull(f[2]), std::stoull(f[3]), f[4] == "1", f[5], f[6]});
  }
  return out;
}

inline std::vector<std::string> PyNames(const std::filesystem::path& archive, const std::string& password = {}) {
  std::vector<std::string> names;
  if (auto entries = PyRead(archive, password))
    for (const auto& e : *entries) names.push_back(e.name);
  return names;
}

// The exit code of `unzip -t` (0: every entry checked).
inline int UnzipTest(const std::filesystem::path& archive, const std::string& password = {}) {
  std::vector<std::string> argv = {"/usr/bin/unzip", "-t"};
  if (!password.empty()) argv.insert(argv.end(), {"-P", password});
  argv.push_back(archive.string());
  return RunCommand(argv).exit_code;
}

// The stored name of a file added with its folder names.
inline std::string EntryOf(const std::filesystem::path& p) {
  return std::filesystem::absolute(p).lexically_normal().relative_path().generic_string();
}

}  // namespace corvane::test
