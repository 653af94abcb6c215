// Drives the real `corvane` executable with its installation, configuration,
// state and runtime folders inside one temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/ini_file.h"
#include "platform/registry.h"
#include "support/folder_register.h"
#include "support/folder_settings.h"
#include "support/language.h"
#include "util/process.h"
#include "util/temp_dir.h"

namespace corvane::test {

namespace fs = std::filesystem;

class CliTest : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path home = dir / "home";
  fs::path origin = dir / "origin";
  fs::path dest = dir / "dest";
  fs::path logs = home / "logs";

  void SetUp() override {
    for (const auto& d : {home, origin, dest, dir / "config", dir / "state", dir / "run"}) fs::create_directories(d);
    for (const char* f : {"Français.lge", "English.lge"})
      fs::copy_file(fs::path(CORVANE_SOURCE_DIR) / "lang" / f, home / f);
    ::setenv("CORVANE3_HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    ::setenv("LANG", "fr_FR.UTF-8", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ASSERT_TRUE(fs::exists(CORVANE_CLI)) << "the corvane executable is missing";
  }

  CommandOutput Cli(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), CORVANE_CLI);
    return RunCommandCapture(args, input);
  }

  // The text the tool shows for a catalog key, from the shipped file.
  std::string Mess(std::string_view key, std::string_view language = "Français") {
    std::string text = ReadMessage(home, key, language);
    EXPECT_FALSE(text.empty()) << key;
    return text;
  }

  platform::Registry Registry() { return platform::Registry(dir / "config" / "corvane3" / "registry.ini"); }

  fs::path SettingsOf(const std::string& name) { return home / (name + ".ini"); }

  std::string Param(const std::string& name, std::string_view key) {
    platform::ClearIniCache();
    return FolderSettings(SettingsOf(name)).ReadString(kSectionParams, key, "<absent>");
  }

  // A backup folder of origin/ into dest/ with its journal, made by the tool.
  void CreateFolder(const std::string& name, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"create", name, "--origin", origin.string(), "--destination", dest.string(),
                                     "--journal", "--subfolders"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto r = Cli(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  static void Age(const fs::path& p) {
    // An hour old: older than any LastSave a run of this test writes.
    auto t = std::chrono::system_clock::now() - std::chrono::hours(1);
    auto s = std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
    timespec ts[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(s), 0}};
    ::utimensat(AT_FDCWD, p.c_str(), ts, 0);
  }

  void WriteOrigin(const std::string& relative, const std::string& content) {
    fs::path p = origin / relative;
    fs::create_directories(p.parent_path());
    WriteAll(p, content);
    Age(p);
  }

  // Starts the tool in the background, its output into files of the test.
  int Start(std::vector<std::string> args, const fs::path& out, const fs::path& err) {
    args.insert(args.begin(), CORVANE_CLI);
    return ForkChild([&] {
      int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int n = ::open("/dev/null", O_RDONLY);
      ::dup2(n, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      return 127;
    });
  }

  // Waits (at most a minute) until the folder's running mark is set.
  bool WaitRunning(const std::string& name) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Param(name, "Encours") == "1") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
};

}  // namespace corvane::test
