// The tool's texts, from section "Mess" of the user's language file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace corvane::cli {

class Messages {
 public:
  Messages(std::filesystem::path install_dir, std::string language)
      : install_dir_(std::move(install_dir)), language_(std::move(language)) {}

  const std::string& language() const { return language_; }

  // The key's text, "\n" in it read as a line break; the key itself when
  // the language file lacks it, so that no message is ever blank.
  std::string Text(std::string_view key) const;

  // Writes the key's text, then `detail` (when not empty), then a line end.
  void Say(std::FILE* to, std::string_view key, std::string_view detail = {}) const;

 private:
  std::filesystem::path install_dir_;
  std::string language_;
};

}  // namespace corvane::cli
