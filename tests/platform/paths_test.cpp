#include "platform/paths.h"

#include <gtest/gtest.h>

#include <map>

#include "util/temp_dir.h"

namespace corvane::platform {
namespace {

EnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars](std::string_view name) -> std::optional<std::string> {
    auto it = vars.find(std::string(name));
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

TEST(Paths, WritableInstallationKeepsEverythingBesideThePrograms) {
  test::TempDir dir;
  auto p = ResolvePaths(Env({{"HOME", "/home/anne"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}}), dir / "corvane-agent");
  EXPECT_EQ(p.install_dir, dir.path());
  EXPECT_EQ(p.logs_dir, dir.path() / "logs");
  EXPECT_EQ(p.settings_dir, dir.path());
  EXPECT_EQ(p.config_dir, std::filesystem::path("/home/anne/.config/corvane3"));
  EXPECT_EQ(p.registry_store(), std::filesystem::path("/home/anne/.config/corvane3/registry.ini"));
  EXPECT_EQ(p.autostart_dir, std::filesystem::path("/home/anne/.config/autostart"));
  EXPECT_EQ(p.data_home, std::filesystem::path("/home/anne/.local/share"));
  EXPECT_EQ(p.work_dir, std::filesystem::path("/home/anne/.cache/corvane3/work"));
  EXPECT_EQ(p.network_root, std::filesystem::path("/run/user/1000/gvfs"));
  EXPECT_TRUE(p.network_root_is_gvfs);
  // Nothing is created by resolving.
  EXPECT_FALSE(std::filesystem::exists(p.logs_dir));
}

TEST(Paths, ASystemWideInstallationWritesToTheUsersOwnFolders) {
  test::TempDir dir;
  auto p = ResolvePaths(Env({{"HOME", "/home/anne"},
                             {"XDG_CONFIG_HOME", "/cfg"},
                             {"XDG_STATE_HOME", "/state"},
                             {"XDG_DATA_HOME", "relative/ignored"},
                             {"XDG_CACHE_HOME", "/cache"},
                             {"CORVANE3_NETWORK_ROOT", "/mnt/net"}}),
                        "/nonexistent/usr/lib/corvane3/corvane-agent");
  EXPECT_EQ(p.install_dir, std::filesystem::path("/nonexistent/usr/lib/corvane3"));
  EXPECT_EQ(p.logs_dir, std::filesystem::path("/state/corvane3/logs"));
  EXPECT_EQ(p.settings_dir, std::filesystem::path("/cfg/corvane3"));
  EXPECT_EQ(p.data_home, std::filesystem::path("/home/anne/.local/share")) << "a relative XDG value is ignored";
  EXPECT_EQ(p.network_root, std::filesystem::path("/mnt/net"));
  EXPECT_EQ(p.work_dir, std::filesystem::path("/cache/corvane3/work"));
  EXPECT_FALSE(p.network_root_is_gvfs);
}

TEST(Paths, Corvane3HomeOverridesTheExecutablesFolder) {
  test::TempDir dir;
  auto p = ResolvePaths(Env({{"HOME", "/h"}, {"CORVANE3_HOME", dir.path().string()}}), "/opt/x/corvane-admin");
  EXPECT_EQ(p.install_dir, dir.path());
  EXPECT_EQ(p.logs_dir, dir.path() / "logs");
  EXPECT_TRUE(IsWritableDirectory(dir.path()));
  EXPECT_FALSE(IsWritableDirectory(dir / "missing"));
  test::WriteAll(dir / "file", "x");
  EXPECT_FALSE(IsWritableDirectory(dir / "file"));
}

}  // namespace
}  // namespace corvane::platform
