// Private-profile (INI) files shared between processes.
//
// Every operation names its file by path, does one thing and releases it.
// Section and key names match without regard to case (ASCII and Latin-1
// letters). A write is a locked read-modify-write replaced atomically, so
// concurrent writers of different keys never lose each other's values and a
// killed writer never leaves a torn file. A read sees the file as it is at
// that moment; a parsed copy is reused only while the file's identity is
// unchanged, and every writer of ours advances the modification time so that
// identity never repeats.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane::platform {

// Case-insensitive equality of section and key names.
bool NamesEqual(std::string_view a, std::string_view b);
// The folded form used for comparisons (ASCII and Latin-1 letters lowered).
std::string FoldName(std::string_view name);

// The parsed content of one INI file. Lines that are not entries (comments,
// blanks, unparsable text) are kept so that a rewrite preserves them.
class IniDocument {
 public:
  struct Line {
    bool is_entry = false;
    std::string key;    // entries only
    std::string value;  // entries only
    std::string raw;    // other lines, as read (without line end)
  };
  struct Section {
    std::string name;
    bool has_header = true;  // false for lines before the first section line
    std::vector<Line> lines;
    std::unordered_map<std::string, std::size_t> keys;  // folded key -> first entry line
  };

  static IniDocument Parse(std::string_view text);
  std::string Serialize() const;

  const std::string* Find(std::string_view section, std::string_view key) const;
  // Sets a key, creating the section at the end and the key at the end of
  // its section when missing. Returns true when the content changed.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  bool Remove(std::string_view section, std::string_view key);
  // Renames a key where it stands; false when it is missing or when another
  // key already bears the new name.
  bool RenameKey(std::string_view section, std::string_view from, std::string_view to);
  // Adds an empty section at the end when missing; true when added.
  bool EnsureSection(std::string_view section);
  bool EraseSection(std::string_view section);
  bool HasSection(std::string_view section) const;
  std::vector<std::string> Keys(std::string_view section) const;
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;
  std::vector<std::string> SectionNames() const;

  bool crlf() const { return crlf_; }

 private:
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  void Reindex();
  static void ReindexKeys(Section& s);

  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> index_;  // folded name -> first section
  bool crlf_ = false;
  bool bom_ = false;
};

class IniFile {
 public:
  explicit IniFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return path_; }

  // Reads. A missing or unreadable file reads as empty; a read never creates it.
  std::optional<std::string> Read(std::string_view section, std::string_view key) const;
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  bool KeyExists(std::string_view section, std::string_view key) const;
  bool SectionExists(std::string_view section) const;
  std::vector<std::string> Keys(std::string_view section) const;  // file order
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;
  std::vector<std::string> Sections() const;

  // Writes. Each returns false when the file could not be written; nothing
  // is changed then.
  bool Write(std::string_view section, std::string_view key, std::string_view value);
  bool DeleteKey(std::string_view section, std::string_view key);
  bool EraseSection(std::string_view section);

  // One indivisible read-modify-write under the file's lock: `edit` sees the
  // current content and returns true when it changed something, which is then
  // written. Other processes' writes wait meanwhile. Returns false when the
  // file could not be locked, read or written.
  bool Update(const std::function<bool(IniDocument&)>& edit);

  // The current parsed content (shared, read-only).
  std::shared_ptr<const IniDocument> Snapshot() const;

 private:
  std::filesystem::path path_;
};

// Drops every cached parse (tests that fake clocks or rewrite files by hand).
void ClearIniCache();

}  // namespace corvane::platform
