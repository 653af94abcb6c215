// A backup folder's settings file, read and written key by key, and the
// folder register that ties folder names to their files.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"
#include "platform/ini_file.h"

namespace corvane {

inline constexpr std::string_view kSectionParams = "PARAMS";
inline constexpr std::string_view kSectionExtensions = "EXTENSIONS";

// Every read names the default the reader applies; a missing file, key or an
// unreadable value gives that default, never an error. Every write reaches the
// file at once and reports whether it did.
class FolderSettings {
 public:
  explicit FolderSettings(std::filesystem::path file);

  const std::filesystem::path& path() const { return ini_.path(); }
  bool Exists() const;

  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
  // Decimal text, blanks around it ignored; anything else gives the default.
  std::int64_t ReadInteger(std::string_view section, std::string_view key, std::int64_t fallback) const;
  // True for any integer other than 0.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  platform::DateTime ReadDateTime(std::string_view section, std::string_view key,
                                  platform::DateTime fallback) const;
  // A time of day, as the time elapsed since midnight.
  std::chrono::seconds ReadTime(std::string_view section, std::string_view key,
                                std::chrono::seconds fallback) const;

  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
  bool WriteBool(std::string_view section, std::string_view key, bool value);  // "1" or "0"
  bool WriteDateTime(std::string_view section, std::string_view key, platform::DateTime value);
  bool WriteTime(std::string_view section, std::string_view key, std::chrono::seconds since_midnight);

  std::vector<std::string> Keys(std::string_view section) const;  // file order
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;
  std::vector<std::string> Sections() const;
  bool KeyExists(std::string_view section, std::string_view key) const;
  bool SectionExists(std::string_view section) const;
  bool DeleteKey(std::string_view section, std::string_view key);
  bool EraseSection(std::string_view section);

  // Several keys tested and changed as one step that no other process can
  // come between (the running mark, the suspension request).
  bool Update(const std::function<bool(platform::IniDocument&)>& edit);

 private:
  platform::IniFile ini_;
};

// The integer rule of the settings files, for values read some other way.
std::optional<std::int64_t> ParseSettingInteger(std::string_view text);

}  // namespace corvane
