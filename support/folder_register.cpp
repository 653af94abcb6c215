#include "support/folder_register.h"

#include "platform/ini_file.h"

namespace corvane {

using platform::RegRoot;
using platform::RegValue;

std::filesystem::path SettingsPathOf(const RegisteredFolder& folder, const std::filesystem::path& install_dir) {
  if (folder.data == folder.name) return install_dir / (folder.name + ".ini");
  return std::filesystem::path(folder.data);
}

FolderRegister::FolderRegister(platform::Registry& registry) : registry_(registry) {}

std::vector<RegisteredFolder> FolderRegister::List() const {
  std::vector<RegisteredFolder> folders;
  for (const std::string& name : registry_.ValueNames(RegRoot::CurrentUser, kRegisterKey)) {
    auto v = registry_.Read(RegRoot::CurrentUser, kRegisterKey, name);
    if (v && v->type == RegValue::Type::Text) folders.push_back({name, v->text});
  }
  return folders;
}

std::optional<std::string> FolderRegister::Read(std::string_view name) const {
  if (name.empty()) return std::nullopt;
  auto v = registry_.Read(RegRoot::CurrentUser, kRegisterKey, name);
  if (!v || v->type != RegValue::Type::Text) return std::nullopt;
  return v->text;
}

bool FolderRegister::Contains(std::string_view name) const { return Read(name).has_value(); }

bool FolderRegister::Write(std::string_view name, const std::filesystem::path& settings_file) {
  if (name.empty()) return false;  // the key's default value is not a folder
  return registry_.WriteText(RegRoot::CurrentUser, kRegisterKey, name, settings_file.string());
}

bool FolderRegister::Delete(std::string_view name) {
  if (name.empty()) return false;
  return registry_.DeleteValue(RegRoot::CurrentUser, kRegisterKey, name);
}

FolderRegister::RenameResult FolderRegister::Rename(std::string_view from, std::string_view to) {
  if (from.empty() || !Contains(from)) return RenameResult::Missing;
  if (to.empty()) return RenameResult::Failed;
  if (!platform::NamesEqual(from, to) && Contains(to)) return RenameResult::NameTaken;
  if (from == to) return RenameResult::Done;
  return registry_.RenameValue(RegRoot::CurrentUser, kRegisterKey, from, to) ? RenameResult::Done
                                                                             : RenameResult::Failed;
}

}  // namespace corvane
