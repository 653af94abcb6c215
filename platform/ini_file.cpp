#include "platform/ini_file.h"

#include <list>
#include <mutex>
#include <unordered_map>

#include "platform/atomic_file.h"

namespace corvane::platform {

// ---------------------------------------------------------------- names

std::string FoldName(std::string_view name) {
  std::string out(name);
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      // Latin-1 capitals U+00C0..U+00DE (not U+00D7) in UTF-8.
      unsigned char d = static_cast<unsigned char>(out[i + 1]);
      if (d >= 0x80 && d <= 0x9E && d != 0x97) out[i + 1] = static_cast<char>(d + 0x20);
      ++i;
    }
  }
  return out;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FoldName(a) == FoldName(b);
}

// ---------------------------------------------------------------- text rules
//
// Plain "key=value" lines as any INI reader expects. A name or value that
// would not survive that form (blanks at its ends, a leading quote, control
// characters, "=" in a key) is written between double quotes with C escapes,
// so that every value written reads back unchanged.

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool HasControl(std::string_view s) {
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return true;
  }
  return false;
}

std::string Quote(std::string_view s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out += "\\x";
          out += hex[u >> 4];
          out += hex[u & 15];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a quoted text at the start of s; on success sets `out` and the
// number of characters consumed.
bool Unquote(std::string_view s, std::string& out, std::size_t& used) {
  if (s.empty() || s.front() != '"') return false;
  out.clear();
  for (std::size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      used = i + 1;
      return true;
    }
    if (c != '\\' || i + 1 >= s.size()) {
      out += c;
      continue;
    }
    char e = s[i + 1];
    switch (e) {
      case '\\': out += '\\'; ++i; break;
      case '"': out += '"'; ++i; break;
      case 'n': out += '\n'; ++i; break;
      case 'r': out += '\r'; ++i; break;
      case 't': out += '\t'; ++i; break;
      case 'x':
        if (i + 3 < s.size() && HexDigit(s[i + 2]) >= 0 && HexDigit(s[i + 3]) >= 0) {
          out += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
          i += 3;
        } else {
          out += c;
        }
        break;
      default: out += c;  // a lone backslash is itself
    }
  }
  return false;
}

bool ValueNeedsQuotes(std::string_view v) {
  if (v.empty()) return false;
  return IsBlank(v.front()) || IsBlank(v.back()) || v.front() == '"' || HasControl(v);
}

bool KeyNeedsQuotes(std::string_view k) {
  if (k.empty()) return true;
  char f = k.front();
  return IsBlank(f) || IsBlank(k.back()) || f == '"' || f == '[' || f == ';' || f == '#' ||
         k.find('=') != std::string_view::npos || HasControl(k);
}

bool SectionNeedsQuotes(std::string_view s) {
  return s.empty() || IsBlank(s.front()) || IsBlank(s.back()) || s.front() == '"' || HasControl(s);
}

std::string ReadValue(std::string_view raw) {
  std::string_view v = Trim(raw);
  std::string out;
  std::size_t used = 0;
  if (Unquote(v, out, used) && used == v.size()) return out;
  // Hand-written "quoted" values read without their quotes, as elsewhere.
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return std::string(v.substr(1, v.size() - 2));
  return std::string(v);
}

}  // namespace

// ---------------------------------------------------------------- document

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.bom_ = true;
    text.remove_prefix(3);
  }
  std::size_t first_nl = text.find('\n');
  doc.crlf_ = first_nl != std::string_view::npos && first_nl > 0 && text[first_nl - 1] == '\r';

  doc.sections_.push_back(Section{"", false, {}, {}});
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Lines end with LF, CR LF or a lone CR.
    std::size_t end = text.find_first_of("\r\n", pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (end == std::string_view::npos) {
      pos = text.size();
    } else {
      pos = end + 1;
      if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }

    std::string_view t = Trim(line);
    Line l;
    l.raw = std::string(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') {
      doc.sections_.back().lines.push_back(std::move(l));
      continue;
    }
    if (t.front() == '[') {
      std::string name;
      std::size_t used = 0;
      std::string_view inner = Trim(t.substr(1));
      bool header = false;
      if (Unquote(inner, name, used) && Trim(inner.substr(used)) == "]") {
        header = true;
      } else {
        std::size_t close = t.rfind(']');
        if (close != std::string_view::npos && close > 0) {
          name = std::string(Trim(t.substr(1, close - 1)));
          header = true;
        }
      }
      if (header) {
        doc.sections_.push_back(Section{std::move(name), true, {}, {}});
        continue;
      }
      doc.sections_.back().lines.push_back(std::move(l));
      continue;
    }
    std::string key;
    std::size_t used = 0;
    std::string_view rest;
    bool entry = false;
    if (Unquote(t, key, used)) {
      std::string_view after = Trim(t.substr(used));
      if (!after.empty() && after.front() == '=') {
        rest = after.substr(1);
        entry = true;
      }
    }
    if (!entry) {
      std::size_t eq = t.find('=');
      if (eq != std::string_view::npos) {
        key = std::string(Trim(t.substr(0, eq)));
        rest = t.substr(eq + 1);
        entry = true;
      }
    }
    if (entry) {
      l.is_entry = true;
      l.key = std::move(key);
      l.value = ReadValue(rest);
      l.raw.clear();
    }
    doc.sections_.back().lines.push_back(std::move(l));
  }
  doc.Reindex();
  return doc;
}

std::string IniDocument::Serialize() const {
  const char* eol = crlf_ ? "\r\n" : "\n";
  std::string out;
  if (bom_) out += "\xEF\xBB\xBF";
  for (const Section& s : sections_) {
    if (s.has_header) {
      out += '[';
      out += SectionNeedsQuotes(s.name) ? Quote(s.name) : s.name;
      out += ']';
      out += eol;
    }
    for (const Line& l : s.lines) {
      if (l.is_entry) {
        out += KeyNeedsQuotes(l.key) ? Quote(l.key) : l.key;
        out += '=';
        out += ValueNeedsQuotes(l.value) ? Quote(l.value) : l.value;
      } else {
        out += l.raw;
      }
      out += eol;
    }
  }
  return out;
}

void IniDocument::ReindexKeys(Section& s) {
  s.keys.clear();
  for (std::size_t i = 0; i < s.lines.size(); ++i)
    if (s.lines[i].is_entry) s.keys.emplace(FoldName(s.lines[i].key), i);
}

void IniDocument::Reindex() {
  index_.clear();
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    if (!sections_[i].has_header) continue;
    index_.emplace(FoldName(sections_[i].name), i);
    ReindexKeys(sections_[i]);
  }
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
  auto it = index_.find(FoldName(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

IniDocument::Section* IniDocument::FindSection(std::string_view name) {
  return const_cast<Section*>(static_cast<const IniDocument*>(this)->FindSection(name));
}

const std::string* IniDocument::Find(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return nullptr;
  auto it = s->keys.find(FoldName(key));
  return it == s->keys.end() ? nullptr : &s->lines[it->second].value;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  EnsureSection(section);
  Section* s = FindSection(section);
  auto found = s->keys.find(FoldName(key));
  if (found != s->keys.end()) {
    Line& l = s->lines[found->second];
    if (l.value == value) return false;
    l.value = std::string(value);
    return true;
  }
  Line l;
  l.is_entry = true;
  l.key = std::string(key);
  l.value = std::string(value);
  // New keys go after the section's last entry, before trailing blank lines.
  auto at = s->lines.end();
  while (at != s->lines.begin() && !(at - 1)->is_entry && Trim((at - 1)->raw).empty()) --at;
  s->lines.insert(at, std::move(l));
  ReindexKeys(*s);
  return true;
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
  Section* s = FindSection(section);
  if (!s) return false;
  auto found = s->keys.find(FoldName(key));
  if (found == s->keys.end()) return false;
  s->lines.erase(s->lines.begin() + static_cast<std::ptrdiff_t>(found->second));
  ReindexKeys(*s);
  return true;
}

bool IniDocument::RenameKey(std::string_view section, std::string_view from, std::string_view to) {
  Section* s = FindSection(section);
  if (!s) return false;
  auto found = s->keys.find(FoldName(from));
  if (found == s->keys.end()) return false;
  if (FoldName(from) != FoldName(to) && s->keys.count(FoldName(to))) return false;
  Line& l = s->lines[found->second];
  if (l.key == to) return false;
  l.key = std::string(to);
  ReindexKeys(*s);
  return true;
}

bool IniDocument::EnsureSection(std::string_view section) {
  if (FindSection(section)) return false;
  sections_.push_back(Section{std::string(section), true, {}, {}});
  index_.emplace(FoldName(section), sections_.size() - 1);
  return true;
}

bool IniDocument::EraseSection(std::string_view section) {
  std::string folded = FoldName(section);
  bool erased = false;
  for (auto it = sections_.begin(); it != sections_.end();) {
    if (it->has_header && FoldName(it->name) == folded) {
      it = sections_.erase(it);
      erased = true;
    } else {
      ++it;
    }
  }
  if (erased) Reindex();
  return erased;
}

bool IniDocument::HasSection(std::string_view section) const { return FindSection(section) != nullptr; }

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = FindSection(section)) {
    for (const Line& l : s->lines)
      if (l.is_entry) keys.push_back(l.key);
  }
  return keys;
}

std::vector<std::pair<std::string, std::string>> IniDocument::Entries(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> entries;
  if (const Section* s = FindSection(section)) {
    for (const Line& l : s->lines)
      if (l.is_entry) entries.emplace_back(l.key, l.value);
  }
  return entries;
}

std::vector<std::string> IniDocument::SectionNames() const {
  std::vector<std::string> names;
  for (const Section& s : sections_)
    if (s.has_header) names.push_back(s.name);
  return names;
}

// ---------------------------------------------------------------- parse cache

namespace {

struct CacheEntry {
  FileIdentity identity;
  std::shared_ptr<const IniDocument> doc;
};

class ParseCache {
 public:
  std::shared_ptr<const IniDocument> Load(const std::filesystem::path& path) {
    const std::string key = path.string();
    if (auto id = StatIdentity(path)) {
      std::lock_guard lock(mutex_);
      auto it = entries_.find(key);
      if (it != entries_.end() && it->second.identity == *id) return it->second.doc;
    }
    std::string content;
    FileIdentity id;
    if (ReadWholeFile(path, content, &id) != ReadResult::Ok) return Empty();
    auto doc = std::make_shared<const IniDocument>(IniDocument::Parse(content));
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kMaxFiles) entries_.clear();
    entries_[key] = CacheEntry{id, doc};
    return doc;
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

 private:
  static std::shared_ptr<const IniDocument> Empty() {
    static const auto empty = std::make_shared<const IniDocument>();
    return empty;
  }

  static constexpr std::size_t kMaxFiles = 512;
  std::mutex mutex_;
  std::unordered_map<std::string, CacheEntry> entries_;
};

ParseCache& Cache() {
  static ParseCache cache;
  return cache;
}

}  // namespace

void ClearIniCache() { Cache().Clear(); }

// ---------------------------------------------------------------- file

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {}

std::shared_ptr<const IniDocument> IniFile::Snapshot() const { return Cache().Load(path_); }

std::optional<std::string> IniFile::Read(std::string_view section, std::string_view key) const {
  auto doc = Snapshot();
  if (const std::string* v = doc->Find(section, key)) return *v;
  return std::nullopt;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  auto v = Read(section, key);
  return v ? *v : std::string(fallback);
}

bool IniFile::KeyExists(std::string_view section, std::string_view key) const {
  return Snapshot()->Find(section, key) != nullptr;
}

bool IniFile::SectionExists(std::string_view section) const { return Snapshot()->HasSection(section); }

std::vector<std::string> IniFile::Keys(std::string_view section) const { return Snapshot()->Keys(section); }

std::vector<std::pair<std::string, std::string>> IniFile::Entries(std::string_view section) const {
  return Snapshot()->Entries(section);
}

std::vector<std::string> IniFile::Sections() const { return Snapshot()->SectionNames(); }

bool IniFile::Update(const std::function<bool(IniDocument&)>& edit) {
  return LockedReplace(path_, [&](const std::string* current) -> std::optional<std::string> {
    IniDocument doc = current ? IniDocument::Parse(*current) : IniDocument();
    if (!edit(doc)) return std::nullopt;
    return doc.Serialize();
  });
}

bool IniFile::Write(std::string_view section, std::string_view key, std::string_view value) {
  return Update([&](IniDocument& doc) { return doc.Set(section, key, value); });
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
  return Update([&](IniDocument& doc) { return doc.Remove(section, key); });
}

bool IniFile::EraseSection(std::string_view section) {
  return Update([&](IniDocument& doc) { return doc.EraseSection(section); });
}

}  // namespace corvane::platform
