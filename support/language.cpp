#include "support/language.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <system_error>

#include "platform/ini_file.h"
#include "platform/locale.h"
#include "support/registry_helpers.h"

namespace corvane {
namespace {

// A language names a file of the installation directory, never a path:
// "/etc/x" joined to a directory would replace it, "../x" would leave it.
bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::optional<std::filesystem::path> FileIn(const std::filesystem::path& dir, std::string_view name) {
  if (!IsPlainFileName(name)) return std::nullopt;
  return dir / std::filesystem::path(std::string(name));
}

bool HasUsableFile(const std::filesystem::path& dir, std::string_view name) {
  auto file = FileIn(dir, name);
  return file && IsReadableFile(*file);
}

}  // namespace

std::optional<std::filesystem::path> LanguageFilePath(const std::filesystem::path& install_dir,
                                                      std::string_view language) {
  std::string name(language);
  if (name.find(kLanguageExtension) == std::string::npos) name += kLanguageExtension;
  return FileIn(install_dir, name);
}

bool IsReadableFile(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec) && ::access(file.c_str(), R_OK) == 0;
}

std::string ReadMessage(const std::filesystem::path& install_dir, std::string_view key, std::string_view language,
                        std::string_view section) {
  try {
    auto file = LanguageFilePath(install_dir, language);
    if (!file) return {};
    return platform::IniFile(*file).ReadString(section, key, "");
  } catch (const std::exception&) {
    return {};
  }
}

std::string StoredLanguage(platform::Registry& registry) {
  return RegReadString(registry, platform::RegRoot::CurrentUser, kLanguageRegistryKey, kLanguageRegistryValue);
}

bool StoreLanguage(platform::Registry& registry, std::string_view language) {
  return RegWriteString(registry, platform::RegRoot::CurrentUser, kLanguageRegistryKey, kLanguageRegistryValue,
                        language);
}

LanguageDecision SelectLanguage(const std::filesystem::path& install_dir, std::string_view stored_language,
                                std::string_view locale_language_name) {
  std::string language =
      stored_language.empty() ? platform::ShortLanguageName(locale_language_name) : std::string(stored_language);
  bool french_present = HasUsableFile(install_dir, kFrenchLanguageFile);
  if (language != kFrenchLanguage) {
    std::string file_name = language + std::string(kLanguageExtension);
    if (HasUsableFile(install_dir, file_name)) return LanguageChoice{language, file_name};
    if (!french_present) return InstallationError{kInstallMissingMessage};
  } else if (!french_present) {
    return InstallationError{kInstallMissingMessageFrench};
  }
  return LanguageChoice{std::string(kFrenchLanguage), std::string(kFrenchLanguageFile)};
}

std::vector<LanguageMenuItem> ListLanguages(const std::filesystem::path& install_dir) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(install_dir, ec), end;
  // Bounded by the directory's size; an entry that fails to read ends the listing.
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() <= kLanguageExtension.size() || !name.ends_with(kLanguageExtension)) continue;
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  std::vector<LanguageMenuItem> items;
  for (const std::string& name : names) {
    std::string caption = name.substr(0, name.find('.'));
    if (caption.empty()) continue;  // ".x.lge": nothing to show
    items.push_back({std::move(caption), name.substr(0, name.size() - kLanguageExtension.size())});
  }
  return items;
}

std::string StripAcceleratorMarker(std::string_view caption) {
  std::string out;
  out.reserve(caption.size());
  bool stripped = false;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size() && caption[i + 1] == '&') {
      out += '&';
      ++i;
    } else if (caption[i] == '&' && !stripped) {
      stripped = true;
    } else {
      out += caption[i];
    }
  }
  return out;
}

}  // namespace corvane
