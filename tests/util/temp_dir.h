#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace corvane::test {

// A fresh directory under the system's temporary folder, removed with its
// content when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadAll(const std::filesystem::path& file);
void WriteAll(const std::filesystem::path& file, std::string_view bytes);
// The names in a folder (not below it).
std::set<std::string> Listing(const std::filesystem::path& dir);

}  // namespace corvane::test
