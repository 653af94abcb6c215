// The registry of the current user and the classes root, kept in one store
// file per user. Key paths keep their backslashes: they are names, not file
// paths. Key and value names match without regard to case; values are listed
// in creation order and sub-keys are never listed as values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvane::platform {

enum class RegRoot { CurrentUser, ClassesRoot };

struct RegValue {
  enum class Type { Text, Integer };
  Type type = Type::Text;
  std::string text;      // Text values
  std::uint32_t number = 0;  // Integer values
};

// Told of every change so that places the desktop reflects (log-on start,
// file types) follow the store.
class RegistryObserver {
 public:
  virtual ~RegistryObserver() = default;
  virtual void ValueWritten(RegRoot root, std::string_view key, std::string_view name,
                            const RegValue& value) = 0;
  virtual void ValueDeleted(RegRoot root, std::string_view key, std::string_view name) = 0;
};

class Registry {
 public:
  // `store` is the store file; `observer` may be null.
  explicit Registry(std::filesystem::path store, RegistryObserver* observer = nullptr);

  const std::filesystem::path& store() const { return store_; }

  // An empty value name stands for the key's default value.
  std::optional<RegValue> Read(RegRoot root, std::string_view key, std::string_view name) const;
  bool WriteText(RegRoot root, std::string_view key, std::string_view name, std::string_view text);
  bool WriteInteger(RegRoot root, std::string_view key, std::string_view name, std::uint32_t value);
  bool DeleteValue(RegRoot root, std::string_view key, std::string_view name);
  // Creates the key when missing (a key can exist with no value).
  bool CreateKey(RegRoot root, std::string_view key);
  bool KeyExists(RegRoot root, std::string_view key) const;
  // Value names of one key in creation order, with the spelling they were
  // created with; the default value is not listed.
  std::vector<std::string> ValueNames(RegRoot root, std::string_view key) const;
  // Renames a value in place (also a change of letter case only).
  bool RenameValue(RegRoot root, std::string_view key, std::string_view from, std::string_view to);

 private:
  std::filesystem::path store_;
  RegistryObserver* observer_;
};

std::string_view RootName(RegRoot root);

}  // namespace corvane::platform
