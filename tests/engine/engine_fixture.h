#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/configure.h"
#include "engine/custom_dossier.h"
#include "engine/journal.h"
#include "platform/registry.h"
#include "support/folder_settings.h"
#include "support/message_catalog.h"
#include "util/temp_dir.h"

namespace corvane::test {

namespace fs = std::filesystem;

inline void SetMtime(const fs::path& p, platform::DateTime t) {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = static_cast<time_t>(ns / 1000000000);
  ts[1].tv_nsec = static_cast<long>(ns % 1000000000);
  ::utimensat(AT_FDCWD, p.c_str(), ts, 0);
}

inline platform::DateTime Mtime(const fs::path& p) {
  struct stat st;
  ::stat(p.c_str(), &st);
  return platform::DateTime(std::chrono::duration_cast<platform::DateTime::duration>(
      std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}

// A folder "Docs" backing up origin/ into dest/, with the shipped French
// language file, journals in logs/.
class EngineTest : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path origin = dir / "origin";
  fs::path dest = dir / "dest";
  fs::path logs = dir / "logs";
  fs::path install = dir / "install";
  fs::path ini = dir / "Docs.ini";
  platform::Registry registry{dir / "registry.ini"};
  MessageCatalog catalog;

  void SetUp() override {
    for (const auto& d : {origin, dest, logs, install, dir / "net"}) fs::create_directories(d);
    fs::copy_file(fs::path(CORVANE_SOURCE_DIR) / "lang" / "Français.lge", install / "Français.lge");
    catalog = LoadMessageCatalog(install, "Français (France)", registry);
    ASSERT_FALSE(catalog.sauve.empty());
    FolderSettings s(ini);
    s.WriteString("PARAMS", "Nom", "Docs");
    s.WriteInteger("PARAMS", "TypeSauve", 0);
    s.WriteInteger("PARAMS", "TypeDesti", 0);
    s.WriteBool("PARAMS", "Journal", true);
    s.WriteBool("PARAMS", "SousRep", true);
    s.WriteString("PARAMS", "Origine", origin.string());
    s.WriteString("PARAMS", "Destination", dest.string());
    s.WriteInteger("PARAMS", "NbMaxFic", 32000);
    s.WriteInteger("PARAMS", "NbMaxFicMin", 32000);
    s.WriteInteger("PARAMS", "VolumeMax", 32000);
    s.WriteInteger("PARAMS", "DelaiSauve", 1440);
  }

  EngineServices Services() {
    EngineServices sv;
    sv.catalog = &catalog;
    sv.logs_dir = logs;
    sv.program_dir = install;
    sv.work_dir = dir / "work";
    sv.computer_name = "testpc";
    sv.network_root = {dir / "net", false};
    return sv;
  }

  FolderSettings Settings() { return FolderSettings(ini); }

  std::unique_ptr<TCustomDossier> Configure(EngineServices sv) {
    auto d = std::make_unique<TCustomDossier>(std::move(sv));
    ConfigureBackupRun(*d, {"Docs", ini.string()}, ini, RunCaller::AgentTray, false, std::chrono::system_clock::now());
    return d;
  }
  std::unique_ptr<TCustomDossier> Configure() { return Configure(Services()); }

  // One backup run, start to end, on this thread.
  std::unique_ptr<TCustomDossier> RunBackup() {
    auto d = Configure();
    d->LanceSauvegarde();
    return d;
  }

  fs::path MakeFile(const std::string& rel, const std::string& content) {
    fs::path p = origin / rel;
    fs::create_directories(p.parent_path());
    WriteAll(p, content);
    return p;
  }

  std::vector<std::string> TodaysJournal() {
    return SplitLines(ReadAll(JournalPath(logs, DateJour(std::chrono::system_clock::now()), "Docs")));
  }
  std::vector<std::string> TodaysCalendar() {
    return SplitLines(ReadAll(CalendarPath(logs, DateJour(std::chrono::system_clock::now()))));
  }

  // Every file below `root`, relative, sorted.
  static std::vector<std::string> Tree(const fs::path& root, bool with_dirs = false) {
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
      if (e.is_directory() && !with_dirs) continue;
      out.push_back(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

}  // namespace corvane::test
