#include "support/folder_settings.h"

#include <charconv>

namespace corvane {

std::optional<std::int64_t> ParseSettingInteger(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::int64_t v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size()) return std::nullopt;
  return v;
}

FolderSettings::FolderSettings(std::filesystem::path file) : ini_(std::move(file)) {}

bool FolderSettings::Exists() const {
  std::error_code ec;
  return std::filesystem::is_regular_file(ini_.path(), ec);
}

std::string FolderSettings::ReadString(std::string_view section, std::string_view key,
                                       std::string_view fallback) const {
  return ini_.ReadString(section, key, fallback);
}

std::int64_t FolderSettings::ReadInteger(std::string_view section, std::string_view key,
                                         std::int64_t fallback) const {
  auto text = ini_.Read(section, key);
  if (!text) return fallback;
  return ParseSettingInteger(*text).value_or(fallback);
}

bool FolderSettings::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  auto text = ini_.Read(section, key);
  if (!text) return fallback;
  auto v = ParseSettingInteger(*text);
  return v ? *v != 0 : fallback;
}

platform::DateTime FolderSettings::ReadDateTime(std::string_view section, std::string_view key,
                                                platform::DateTime fallback) const {
  auto text = ini_.Read(section, key);
  if (!text) return fallback;
  return platform::ParseDateTime(*text).value_or(fallback);
}

std::chrono::seconds FolderSettings::ReadTime(std::string_view section, std::string_view key,
                                              std::chrono::seconds fallback) const {
  auto text = ini_.Read(section, key);
  if (!text) return fallback;
  return platform::ParseTime(*text).value_or(fallback);
}

bool FolderSettings::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  return ini_.Write(section, key, value);
}

bool FolderSettings::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
  return ini_.Write(section, key, std::to_string(value));
}

bool FolderSettings::WriteBool(std::string_view section, std::string_view key, bool value) {
  return ini_.Write(section, key, value ? "1" : "0");
}

bool FolderSettings::WriteDateTime(std::string_view section, std::string_view key, platform::DateTime value) {
  return ini_.Write(section, key, platform::FormatDateTime(value));
}

bool FolderSettings::WriteTime(std::string_view section, std::string_view key, std::chrono::seconds since_midnight) {
  return ini_.Write(section, key, platform::FormatTimeOfDay(since_midnight));
}

std::vector<std::string> FolderSettings::Keys(std::string_view section) const { return ini_.Keys(section); }

std::vector<std::pair<std::string, std::string>> FolderSettings::Entries(std::string_view section) const {
  return ini_.Entries(section);
}

std::vector<std::string> FolderSettings::Sections() const { return ini_.Sections(); }

bool FolderSettings::KeyExists(std::string_view section, std::string_view key) const {
  return ini_.KeyExists(section, key);
}

bool FolderSettings::SectionExists(std::string_view section) const { return ini_.SectionExists(section); }

bool FolderSettings::DeleteKey(std::string_view section, std::string_view key) { return ini_.DeleteKey(section, key); }

bool FolderSettings::EraseSection(std::string_view section) { return ini_.EraseSection(section); }

bool FolderSettings::Update(const std::function<bool(platform::IniDocument&)>& edit) { return ini_.Update(edit); }

}  // namespace corvane
