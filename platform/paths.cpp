#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>

namespace corvane::platform {
namespace {

std::filesystem::path EnvPath(const EnvLookup& env, std::string_view name) {
  auto v = env(name);
  // XDG: a relative value is invalid and must be ignored.
  if (!v || v->empty() || (*v)[0] != '/') return {};
  return std::filesystem::path(*v);
}

std::filesystem::path Home(const EnvLookup& env) {
  auto home = EnvPath(env, "HOME");
  return home.empty() ? std::filesystem::path("/tmp") : home;
}

}  // namespace

EnvLookup ProcessEnvironment() {
  return [](std::string_view name) -> std::optional<std::string> {
    const char* v = std::getenv(std::string(name).c_str());
    if (!v) return std::nullopt;
    return std::string(v);
  };
}

bool IsWritableDirectory(const std::filesystem::path& dir) {
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

Paths ResolvePaths(const EnvLookup& env, const std::filesystem::path& executable) {
  Paths p;
  p.executable = executable;
  auto home_override = EnvPath(env, "CORVANE3_HOME");
  p.install_dir = !home_override.empty() ? home_override : executable.parent_path();

  auto config_home = EnvPath(env, "XDG_CONFIG_HOME");
  if (config_home.empty()) config_home = Home(env) / ".config";
  auto state_home = EnvPath(env, "XDG_STATE_HOME");
  if (state_home.empty()) state_home = Home(env) / ".local" / "state";
  auto data_home = EnvPath(env, "XDG_DATA_HOME");
  if (data_home.empty()) data_home = Home(env) / ".local" / "share";

  p.config_dir = config_home / "corvane3";
  auto cache_home = EnvPath(env, "XDG_CACHE_HOME");
  if (cache_home.empty()) cache_home = Home(env) / ".cache";
  p.work_dir = cache_home / "corvane3" / "work";
  p.autostart_dir = config_home / "autostart";
  p.data_home = data_home;

  // A system-wide installation is read-only: what we write goes to the
  // user's own folders instead.
  if (IsWritableDirectory(p.install_dir)) {
    p.logs_dir = p.install_dir / "logs";
    p.settings_dir = p.install_dir;
  } else {
    p.logs_dir = state_home / "corvane3" / "logs";
    p.settings_dir = p.config_dir;
  }

  p.runtime_dir = EnvPath(env, "XDG_RUNTIME_DIR");
  if (p.runtime_dir.empty()) {
    // Without a session's variable, the folder logind makes for the user
    // (where GVFS mounts), else a private one of ours.
    std::filesystem::path run_user = std::filesystem::path("/run/user") / std::to_string(::getuid());
    std::error_code ec;
    p.runtime_dir = std::filesystem::is_directory(run_user, ec)
                        ? run_user
                        : std::filesystem::path("/tmp") / ("corvane3-" + std::to_string(::getuid()));
  }

  p.network_root = EnvPath(env, "CORVANE3_NETWORK_ROOT");
  if (p.network_root.empty()) {
    p.network_root = p.runtime_dir / "gvfs";
    p.network_root_is_gvfs = true;
  }
  return p;
}

Paths ResolveProcessPaths() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ResolvePaths(ProcessEnvironment(), ec ? std::filesystem::path() : exe);
}

}  // namespace corvane::platform
