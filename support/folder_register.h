// The folder register: one text value per backup folder under the user's
// "Software\Corvane3" key, named after the folder, holding its settings file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace corvane {

inline constexpr std::string_view kRegisterKey = "Software\\Corvane3";

struct RegisteredFolder {
  std::string name;
  std::string data;  // as stored: normally the settings file's full path
};

// Where a register entry's settings file is: its data, or, for an entry whose
// data is its own name, that name and ".ini" in the installation directory.
std::filesystem::path SettingsPathOf(const RegisteredFolder& folder, const std::filesystem::path& install_dir);

// Names are compared without regard to letter case, so the register never
// holds two folders whose names differ only in case.
class FolderRegister {
 public:
  explicit FolderRegister(platform::Registry& registry);

  // Every folder in the register's order; sub-keys and non-text values are
  // not folders.
  std::vector<RegisteredFolder> List() const;
  std::optional<std::string> Read(std::string_view name) const;
  bool Contains(std::string_view name) const;
  // Creates the entry, or updates the one of that name (in any letter case).
  bool Write(std::string_view name, const std::filesystem::path& settings_file);
  bool Delete(std::string_view name);

  enum class RenameResult { Done, Missing, NameTaken, Failed };
  // A change of letter case alone is a rename too.
  RenameResult Rename(std::string_view from, std::string_view to);

 private:
  platform::Registry& registry_;
};

}  // namespace corvane
