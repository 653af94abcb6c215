// Where the suite finds its files and keeps what it writes.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::platform {

// Looks up one environment variable; tests pass their own.
using EnvLookup = std::function<std::optional<std::string>(std::string_view)>;
EnvLookup ProcessEnvironment();

struct Paths {
  // Language files, help, tips and plug-ins: the running executable's
  // directory, or CORVANE3_HOME when set.
  std::filesystem::path install_dir;
  // The per-user configuration folder: the registry store lives here, and
  // new settings files when the installation directory is not writable.
  std::filesystem::path config_dir;
  // The journals and calendars ("logs" of the installation directory, or
  // $XDG_STATE_HOME/corvane3/logs when that is not writable).
  std::filesystem::path logs_dir;
  // Where a new folder settings file is created.
  std::filesystem::path settings_dir;
  // Where runs build their intermediate files, each in a folder of its own
  // ($XDG_CACHE_HOME/corvane3/work): never the origin tree.
  std::filesystem::path work_dir;
  // Per-user runtime folder (locks, the agent's socket).
  std::filesystem::path runtime_dir;
  // Where "//computer/share/..." paths are mounted: CORVANE3_NETWORK_ROOT
  // (laid out root/computer/share/...), else the desktop's GVFS folder
  // (laid out "smb-share:server=computer,share=share/...").
  std::filesystem::path network_root;
  bool network_root_is_gvfs = false;
  // XDG autostart folder and data home (MIME packages).
  std::filesystem::path autostart_dir;
  std::filesystem::path data_home;
  // Full path of the running executable (empty in library-only contexts).
  std::filesystem::path executable;

  std::filesystem::path registry_store() const { return config_dir / "registry.ini"; }
};

// Resolves every path from the environment and the executable's location.
// Nothing is created.
Paths ResolvePaths(const EnvLookup& env, const std::filesystem::path& executable);
// The same for this process (/proc/self/exe and the real environment).
Paths ResolveProcessPaths();

// True when the directory exists and this process may create files in it.
bool IsWritableDirectory(const std::filesystem::path& dir);

}  // namespace corvane::platform
