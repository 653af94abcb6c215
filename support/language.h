// Language files: INI files "<language>.lge" in the installation directory,
// with the messages in section "Mess" and one section per translated window.
// Every reader here opens the file when called and keeps nothing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/registry.h"

namespace corvane {

inline constexpr std::string_view kMessageSection = "Mess";
inline constexpr std::string_view kLanguageExtension = ".lge";
inline constexpr std::string_view kFrenchLanguage = "Français";
inline constexpr std::string_view kFrenchLanguageFile = "Français.lge";
// Where the console and the manager remember the language they show.
inline constexpr std::string_view kLanguageRegistryKey = "Software\\Corvane3\\inc";
inline constexpr std::string_view kLanguageRegistryValue = "localisation";

// The two start-up messages of a broken installation; fixed in the programs
// because no language file can be trusted then.
inline constexpr std::string_view kInstallMissingMessage =
    "Incorrect Corvane install, please to proceed again at the install !";
inline constexpr std::string_view kInstallMissingMessageFrench =
    "Installation Corvane incorrecte, veuillez procéder à nouveau à l'installation !";

// The file a language text names: the text itself when it contains ".lge"
// (this letter case), else the text followed by ".lge". Only a plain file name
// directly in `install_dir` is accepted: a text holding "/" or a NUL, or
// naming "." or "..", gives nothing.
std::optional<std::filesystem::path> LanguageFilePath(const std::filesystem::path& install_dir,
                                                      std::string_view language);

// True when `file` is a regular file this process can read.
bool IsReadableFile(const std::filesystem::path& file);

// One key of one section of a language file; empty text when the file, the
// section or the key is missing, or on any error. Key and section match
// without regard to case.
std::string ReadMessage(const std::filesystem::path& install_dir, std::string_view key, std::string_view language,
                        std::string_view section = kMessageSection);

// The language stored by the console or the manager; empty when none.
std::string StoredLanguage(platform::Registry& registry);
bool StoreLanguage(platform::Registry& registry, std::string_view language);

// The start-up choice of the console and the manager.
struct LanguageChoice {
  std::string language;   // the language name, e.g. "Français"
  std::string file_name;  // the translator's file: language + ".lge"
};
// The program cannot run: show `message` and end.
struct InstallationError {
  std::string_view message;  // one of the two fixed installation messages
};
using LanguageDecision = std::variant<LanguageChoice, InstallationError>;

// `stored_language` is the "localisation" value; when empty, the first eight
// characters of `locale_language_name` are the language. A language other
// than French without its file falls back to French; French without its file
// is an installation error.
LanguageDecision SelectLanguage(const std::filesystem::path& install_dir, std::string_view stored_language,
                                std::string_view locale_language_name);

// One entry of the "Langue" menu.
struct LanguageMenuItem {
  std::string caption;   // the file name up to its first full stop
  std::string language;  // the file name without ".lge": what choosing it selects
};
// One item per "*.lge" file of `install_dir`, sorted by file name (byte order)
// so that the menu does not change with the directory's own order.
std::vector<LanguageMenuItem> ListLanguages(const std::filesystem::path& install_dir);

// A menu caption without its accelerator marker: the first lone "&" removed,
// "&&" read as a literal "&".
std::string StripAcceleratorMarker(std::string_view caption);

}  // namespace corvane
