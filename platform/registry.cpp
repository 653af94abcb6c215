#include "platform/registry.h"

#include <charconv>

#include "platform/ini_file.h"

// The store is an INI file of our own: one section per key, named by its root
// and path ("HKEY_CURRENT_USER\Software\Corvane3"), one entry per value in
// creation order, its data prefixed by its type ("s:" text, "d:" 32-bit
// integer). The default value is the entry with the empty name.

namespace corvane::platform {
namespace {

std::string SectionOf(RegRoot root, std::string_view key) {
  std::string s(RootName(root));
  // A leading or trailing backslash names the same key.
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  if (!key.empty()) {
    s += '\\';
    s += key;
  }
  return s;
}

std::string Encode(const RegValue& v) {
  if (v.type == RegValue::Type::Integer) return "d:" + std::to_string(v.number);
  return "s:" + v.text;
}

std::optional<RegValue> Decode(const std::string& data) {
  RegValue v;
  if (data.rfind("d:", 0) == 0) {
    v.type = RegValue::Type::Integer;
    const char* first = data.data() + 2;
    const char* last = data.data() + data.size();
    auto [p, ec] = std::from_chars(first, last, v.number);
    if (ec != std::errc() || p != last) return std::nullopt;
    return v;
  }
  if (data.rfind("s:", 0) == 0) {
    v.text = data.substr(2);
    return v;
  }
  return std::nullopt;
}

}  // namespace

std::string_view RootName(RegRoot root) {
  return root == RegRoot::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

Registry::Registry(std::filesystem::path store, RegistryObserver* observer)
    : store_(std::move(store)), observer_(observer) {}

std::optional<RegValue> Registry::Read(RegRoot root, std::string_view key, std::string_view name) const {
  auto data = IniFile(store_).Read(SectionOf(root, key), name);
  if (!data) return std::nullopt;
  return Decode(*data);
}

static bool WriteValue(const std::filesystem::path& store, RegRoot root, std::string_view key,
                       std::string_view name, const RegValue& v) {
  std::error_code ec;
  std::filesystem::create_directories(store.parent_path(), ec);
  return IniFile(store).Write(SectionOf(root, key), name, Encode(v));
}

bool Registry::WriteText(RegRoot root, std::string_view key, std::string_view name, std::string_view text) {
  RegValue v;
  v.text = std::string(text);
  if (!WriteValue(store_, root, key, name, v)) return false;
  if (observer_) observer_->ValueWritten(root, key, name, v);
  return true;
}

bool Registry::WriteInteger(RegRoot root, std::string_view key, std::string_view name, std::uint32_t value) {
  RegValue v;
  v.type = RegValue::Type::Integer;
  v.number = value;
  if (!WriteValue(store_, root, key, name, v)) return false;
  if (observer_) observer_->ValueWritten(root, key, name, v);
  return true;
}

bool Registry::DeleteValue(RegRoot root, std::string_view key, std::string_view name) {
  bool existed = false;
  bool ok = IniFile(store_).Update([&](IniDocument& doc) {
    existed = doc.Remove(SectionOf(root, key), name);
    return existed;
  });
  if (ok && existed && observer_) observer_->ValueDeleted(root, key, name);
  return ok && existed;
}

bool Registry::CreateKey(RegRoot root, std::string_view key) {
  if (KeyExists(root, key)) return true;
  std::error_code ec;
  std::filesystem::create_directories(store_.parent_path(), ec);
  return IniFile(store_).Update([&](IniDocument& doc) { return doc.EnsureSection(SectionOf(root, key)); });
}

bool Registry::KeyExists(RegRoot root, std::string_view key) const {
  return IniFile(store_).SectionExists(SectionOf(root, key));
}

std::vector<std::string> Registry::ValueNames(RegRoot root, std::string_view key) const {
  std::vector<std::string> names;
  for (auto& [name, data] : IniFile(store_).Entries(SectionOf(root, key))) {
    if (!name.empty() && Decode(data)) names.push_back(name);
  }
  return names;
}

bool Registry::RenameValue(RegRoot root, std::string_view key, std::string_view from, std::string_view to) {
  if (to.empty()) return false;
  std::optional<RegValue> value;
  bool renamed = false;
  bool ok = IniFile(store_).Update([&](IniDocument& doc) {
    std::string section = SectionOf(root, key);
    if (const std::string* data = doc.Find(section, from)) value = Decode(*data);
    renamed = doc.RenameKey(section, from, to);
    return renamed;
  });
  if (!ok || !renamed) return false;
  if (observer_ && value) {
    observer_->ValueDeleted(root, key, from);
    observer_->ValueWritten(root, key, to, *value);
  }
  return true;
}

}  // namespace corvane::platform
