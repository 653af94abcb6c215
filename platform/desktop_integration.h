// The two registry places the desktop itself acts on, kept in step with the
// store: the log-on start value becomes an XDG autostart entry, and the file
// types of the classes root become a shared-mime-info package with default
// applications. Everything here is best effort: a failure leaves the desktop
// as it was and is never reported to the registry's writer.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace corvane::platform {

struct Paths;

struct DesktopPlaces {
  std::filesystem::path autostart_dir;  // $XDG_CONFIG_HOME/autostart
  std::filesystem::path data_home;      // $XDG_DATA_HOME: mime/packages, mime database
  std::filesystem::path config_home;    // $XDG_CONFIG_HOME: mimeapps.list
};
DesktopPlaces DesktopPlacesOf(const Paths& paths);

// Programs of the desktop we call; an empty path is a program not installed.
struct DesktopTools {
  std::filesystem::path update_mime_database;
  std::filesystem::path xdg_mime;
  // Longest wait for either; a program still running then is killed.
  std::chrono::milliseconds timeout{10000};
};
// Looks the programs up in a PATH-style list of folders.
DesktopTools FindDesktopTools(std::string_view search_path);
DesktopTools DesktopToolsFromEnvironment();  // from $PATH

// What the integration reads of the registry.
struct RegistryView {
  std::function<std::optional<RegValue>(RegRoot root, std::string_view key, std::string_view name)> read;
  // The classes-root keys that name a file extension (".jcv").
  std::function<std::vector<std::string>()> extension_keys;
};
// A view of the store file `store`. The store's interface lists no keys,
// so the extension keys are read from the store file's section names.
RegistryView RegistryViewOfStore(std::filesystem::path store);

class DesktopIntegration final : public RegistryObserver {
 public:
  static constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  static constexpr std::string_view kRunValue = "Corvane_3";
  static constexpr std::string_view kAutostartFile = "Corvane_3.desktop";
  static constexpr std::string_view kMimePackage = "corvane3.xml";
  static constexpr std::string_view kMimePrefix = "application/x-corvane3-";

  DesktopIntegration(DesktopPlaces places, RegistryView registry, DesktopTools tools);

  void ValueWritten(RegRoot root, std::string_view key, std::string_view name, const RegValue& value) override;
  void ValueDeleted(RegRoot root, std::string_view key, std::string_view name) override;

  // Brings both places in step with the store as it is now (for a store
  // changed while no observer was attached).
  void SyncAll();

  // The Exec= value that runs `program` with no arguments, quoted and
  // escaped as freedesktop.org Desktop Entry files require; nullopt for a
  // text no entry can hold (empty, control characters, invalid UTF-8).
  static std::optional<std::string> ExecValue(std::string_view program);

 private:
  void SyncAutostart(const std::optional<RegValue>& value);
  void SyncFileTypes(bool force);

  DesktopPlaces places_;
  RegistryView registry_;
  DesktopTools tools_;
  std::mutex mutex_;  // registry writers may be on several threads
};

}  // namespace corvane::platform
