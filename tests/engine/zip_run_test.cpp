// Compressed and encrypted backups and the archive run, checked with other
// readers: `unzip -t`, Python's zipfile and an independent CAST-128.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <random>

#include "engine/threads.h"
#include "engine_fixture.h"
#include "support/container.h"
#include "support/folder_register.h"
#include "support/stored_secret.h"
#include "support/zip_archive.h"
#include "util/process.h"
#include "util/zip_check.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

class ZipRunTest : public EngineTest {
 protected:
  fs::path work_root = dir / "work";

  void SetType(int type) { Settings().WriteInteger("PARAMS", "TypeSauve", type); }
  void SetSecret(const char* key, const std::string& value) { Settings().WriteString("PARAMS", key, EncryptSetting(value)); }

  std::unique_ptr<TCustomDossier> ConfigureArchive(EngineServices sv) {
    auto d = std::make_unique<TCustomDossier>(std::move(sv));
    ConfigureBackupRun(*d, {"Docs", ini.string()}, ini, RunCaller::AgentTray, true, std::chrono::system_clock::now());
    return d;
  }
  std::unique_ptr<TCustomDossier> RunArchive(const platform::Clock* clock = nullptr) {
    auto sv = Services();
    sv.clock = clock;
    auto d = ConfigureArchive(sv);
    d->LanceArchivage();
    return d;
  }

  // The run's private folders are gone once it ended.
  std::vector<std::string> WorkLeft() { return fs::exists(work_root) ? Tree(work_root, true) : std::vector<std::string>{}; }

  // Decrypts with the engine's reader; the plain bytes, or nullopt on a
  // wrong password.
  std::optional<std::string> Decrypt(const fs::path& container, const std::string& password) {
    const fs::path out = dir / "decrypted";
    fs::remove(out);
    if (DecryptContainerToFile(container, out, password) != DecryptResult::Done) return std::nullopt;
    return ReadAll(out);
  }
  // The independent decryptor's answer in hex, or "wrong-password".
  std::string OracleDecrypt(const fs::path& container, const std::string& password) {
    auto r = RunCommand({CORVANE_PYTHON, std::string(CORVANE_SOURCE_DIR) + "/tests/oracle/cast_oracle.py"},
                        "decrypt-file " + (password.empty() ? "-" : Hex(password)) + " " + Hex(container.string()) + "\n");
    EXPECT_EQ(r.exit_code, 0);
    while (!r.output.empty() && r.output.back() == '\n') r.output.pop_back();
    return r.output == "-" ? "" : r.output;
  }

  static std::string Text(std::size_t n) {
    std::string s;
    while (s.size() < n) s += "lorem ipsum dolor sit amet " + std::to_string(s.size() % 13) + "\n";
    return s.substr(0, n);
  }
};

// ---------------------------------------------------------------- per-file backups

struct KindCase {
  int type;
  int level;
  const char* suffix;  // of the delivered names
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << "TypeSauve " << c.type << " level " << c.level; }

class BackupKinds : public ZipRunTest, public ::testing::WithParamInterface<KindCase> {};

// Each file reaches its folder of the destination under the name plus the
// kind's suffixes; what is delivered opens in other readers with the full
// path as entry name and gives the source back byte for byte. Nothing is
// written in the origin (a user's own "a.txt.zip" beside a.txt included)
// and no intermediate is left anywhere.
TEST_P(BackupKinds, DeliversWhatOtherToolsOpen) {
  const auto& c = GetParam();
  SetType(c.type);
  Settings().WriteInteger("PARAMS", "TauxZip", c.level);
  SetSecret("Cryptage", "clé du dossier");
  const std::map<std::string, std::string> files = {
      {"a.txt", Text(30000)}, {"a.txt.zip", "the user's own file, not an archive"}, {"Docs/b.doc", Text(700)},
      {"Docs/2024/empty.txt", ""}};
  for (const auto& [rel, content] : files) MakeFile(rel, content);
  fs::permissions(origin / "a.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const auto origin_before = Tree(origin, true);

  auto d = RunBackup();
  ASSERT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(fs::status(dest / (std::string("a.txt") + c.suffix)).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
      << "the source's permission bits";
  std::vector<std::string> expected_tree;
  for (const auto& [rel, content] : files) expected_tree.push_back(rel + c.suffix);
  std::sort(expected_tree.begin(), expected_tree.end());
  EXPECT_EQ(Tree(dest), expected_tree);
  EXPECT_EQ(Tree(origin, true), origin_before);
  EXPECT_EQ(ReadAll(origin / "a.txt.zip"), files.at("a.txt.zip"));
  EXPECT_EQ(WorkLeft(), std::vector<std::string>{});
  EXPECT_FALSE(Settings().ReadString("PARAMS", "LastSave", "").empty());

  const bool zipped = c.type == 1 || c.type == 3;
  const bool encrypted = c.type == 2 || c.type == 3;
  for (const auto& [rel, content] : files) {
    SCOPED_TRACE(rel);
    fs::path delivered = dest / (rel + c.suffix);
    if (encrypted) {
      auto plain = Decrypt(delivered, "clé du dossier");
      ASSERT_TRUE(plain);
      EXPECT_EQ(OracleDecrypt(delivered, "clé du dossier"), Hex(*plain)) << "independent decryptor agrees";
      EXPECT_EQ(OracleDecrypt(delivered, "other"), "wrong-password");
      EXPECT_FALSE(Decrypt(delivered, "other"));
      delivered = dir / (fs::path(rel).filename().string() + ".plain");
      WriteAll(delivered, *plain);
    }
    if (zipped) {
      EXPECT_EQ(UnzipTest(delivered), 0);
      auto entries = PyRead(delivered);
      ASSERT_TRUE(entries);
      ASSERT_EQ(entries->size(), 1u);
      EXPECT_EQ((*entries)[0].name, EntryOf(origin / rel));
      EXPECT_EQ((*entries)[0].content, Hex(content));
      if (c.level == 0) {
        EXPECT_EQ((*entries)[0].method, 0) << "level 0 stores";
      } else if (rel != "a.txt.zip" && !content.empty()) {
        EXPECT_EQ((*entries)[0].method, 8);
      }
    } else {
      EXPECT_EQ(ReadAll(delivered), content);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, BackupKinds,
                         ::testing::Values(KindCase{1, 9, ".zip"}, KindCase{1, 0, ".zip"}, KindCase{2, 9, ".ccv"},
                                           KindCase{3, 6, ".zip.ccv"}, KindCase{3, 0, ".zip.ccv"}));

TEST_F(ZipRunTest, AnEmptyFileGivesAHeaderOnlyContainer) {
  SetType(2);
  SetSecret("Cryptage", "pw");
  MakeFile("empty", "");
  MakeFile("other", "x");
  RunBackup();
  EXPECT_EQ(fs::file_size(dest / "empty.ccv"), kContainerHeaderSize);
  // One password, one header, whatever the file.
  EXPECT_EQ(ReadAll(dest / "empty.ccv").substr(0, 32), ReadAll(dest / "other.ccv").substr(0, 32));
}

// Shows the run's state to a test; removes one origin file when the copy
// phase starts (after the scan chose it), or throws when the run goes idle.
struct StatusProbe : StatusDisplay {
  fs::path remove_at_copy;
  bool throw_at_idle = false;
  void AfficheEtat(std::string_view icon, std::string_view) override {
    if (icon == "Corv_2" && !remove_at_copy.empty()) fs::remove(remove_at_copy);
    if (icon == "Corv_1" && throw_at_idle) throw std::runtime_error("status display failed");
  }
};

// A file gone between the scan and its ZIP step is reported and skipped;
// the others are still delivered, and LastSave waits for the next run.
TEST_F(ZipRunTest, AFailedZipStepSkipsThatFileOnly) {
  SetType(3);
  SetSecret("Cryptage", "pw");
  MakeFile("a.txt", "a");
  MakeFile("b.txt", "b");
  MakeFile("c.txt", "c");
  StatusProbe probe;
  probe.remove_at_copy = origin / "b.txt";
  auto sv = Services();
  sv.status = &probe;
  auto d = Configure(sv);
  d->LanceSauvegarde();
  EXPECT_EQ(Tree(dest), (std::vector<std::string>{"a.txt.zip.ccv", "c.txt.zip.ccv"}));
  auto j = TodaysJournal();
  auto it = std::find(j.begin(), j.end(), catalog.echec_transfert);
  ASSERT_NE(it, j.end()) << ::testing::PrintToString(j);
  EXPECT_EQ(*(it + 1), origin.string() + "/b.txt");
  EXPECT_EQ(std::count(j.begin(), j.end(), catalog.echec_transfert), 1);
  EXPECT_NE(std::find(j.begin(), j.end(), origin.string() + "/c.txt"), j.end());
  EXPECT_EQ(Settings().ReadString("PARAMS", "LastSave", ""), "");
  EXPECT_EQ(WorkLeft(), std::vector<std::string>{});
}

// However a run ends, its work folder goes with it.
TEST_F(ZipRunTest, ARunEndedByAnErrorLeavesNoIntermediate) {
  for (int type : {3, 4, 5}) {
    SCOPED_TRACE(type);
    SetType(type);
    SetSecret("Cryptage", "pw");
    Settings().WriteString("PARAMS", "Encours", "0");
    MakeFile("a.txt", Text(5000));
    StatusProbe probe;
    probe.throw_at_idle = true;
    auto sv = Services();
    sv.status = &probe;
    std::unique_ptr<TWorkerThread> thread;
    if (type > 3) thread = std::make_unique<TArchivage>(ConfigureArchive(sv));
    else thread = std::make_unique<Tsauvegarde>(Configure(sv));
    thread->Execute();
    EXPECT_EQ(Settings().ReadString("PARAMS", "Encours", ""), "0");
    EXPECT_TRUE(fs::exists(work_root)) << "the run did use its work folder";
    EXPECT_EQ(WorkLeft(), std::vector<std::string>{});
    EXPECT_EQ(Tree(origin), std::vector<std::string>{"a.txt"});
  }
}

// A run that is killed leaves its work folder; the next run that needs one
// removes it, and leaves alone the folders of runs still alive, of runs just
// starting, and anything that is not a run's.
TEST_F(ZipRunTest, WorkFoldersOfKilledRunsAreSweptByTheNextRun) {
  const int pid = ForkChild([&]() -> int {
    auto d = Configure();
    const fs::path w = d->DossierTravail();
    WriteAll(w / "a.txt.zip", "left over");
    std::_Exit(0);  // as if killed: no clean-up at all
  });
  ASSERT_EQ(WaitChild(pid), 0);
  ASSERT_EQ(Listing(work_root).size(), 1u) << "the killed run's folder";

  fs::create_directories(work_root / "run-live");
  WriteAll(work_root / "run-live" / ".lock", "");
  platform::UniqueFd held(::open((work_root / "run-live" / ".lock").c_str(), O_RDWR));
  ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);
  fs::create_directories(work_root / "run-starting");
  fs::create_directories(work_root / "run-old-unlocked");
  SetMtime(work_root / "run-old-unlocked", platform::DateTime(std::chrono::system_clock::now() - 2h));
  fs::create_directories(work_root / "not-a-run");

  SetType(3);
  SetSecret("Cryptage", "pw");
  MakeFile("a.txt", "a");
  RunBackup();
  EXPECT_EQ(Listing(work_root), (std::set<std::string>{"not-a-run", "run-live", "run-starting"}));
  EXPECT_EQ(Tree(dest), std::vector<std::string>{"a.txt.zip.ccv"});
}

// Killed at any moment, a compressed and encrypted backup or an encrypted
// archive run never leaves a partial file under a delivered name, and the
// next complete run clears what the killed ones left in the work folder.
TEST_F(ZipRunTest, KilledRunsDeliverWholeFilesOnly) {
  std::mt19937 rng(7);
  for (int i = 0; i < 6; ++i) MakeFile("d" + std::to_string(i % 2) + "/f" + std::to_string(i) + ".txt", Text((1 + i) << 19));
  SetSecret("Cryptage", "pw");
  platform::Registry reg(dir / "reg2.ini");
  FolderRegister folders(reg);
  folders.Write("Docs", ini);
  const std::string harness = CORVANE_BINARY_DIR "/run_folder";
  for (int type : {3, 5}) {
    SetType(type);
    for (int round = 0; round < 6; ++round) {
      int pid = ForkChild([&] {
        ::execl(harness.c_str(), harness.c_str(), ini.c_str(), "Docs", logs.c_str(), install.c_str(),
                work_root.c_str(), static_cast<char*>(nullptr));
        return 127;
      });
      ::usleep(static_cast<useconds_t>(rng() % 400000));
      ::kill(pid, SIGKILL);
      WaitChild(pid);
      for (const auto& rel : Tree(dest)) {
        const fs::path name = fs::path(rel).filename();
        if (name.string().front() == '.') continue;  // a temporary name: never delivered
        SCOPED_TRACE(rel);
        auto plain = Decrypt(dest / rel, "pw");
        ASSERT_TRUE(plain);
        WriteAll(dir / "check.zip", *plain);
        EXPECT_NO_THROW(ExtractZipEntries(dir / "check.zip", {}, dir / "check", {}));
        fs::remove_all(dir / "check");
      }
      ResetRunningMarks(folders, install);
      fs::remove_all(dest);
      fs::create_directories(dest);
    }
  }
  SetType(3);
  auto d = RunBackup();
  EXPECT_EQ(Tree(dest).size(), 6u);
  EXPECT_EQ(WorkLeft(), std::vector<std::string>{});
}

// ---------------------------------------------------------------- archive run

std::string StampOf(platform::DateTime t) {
  std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "_%Y_%m_%d_%H%M", &tm);
  return buf;
}

struct ArchiveCase {
  int type;
  std::string password_zip;
  int level;
};

void PrintTo(const ArchiveCase& c, std::ostream* os) {
  *os << "TypeSauve " << c.type << " PasswordZip \"" << c.password_zip << "\" level " << c.level;
}

class ArchiveKinds : public ZipRunTest, public ::testing::WithParamInterface<ArchiveCase> {};

// One archive of every selected file in scan order, named after the folder
// and the minute, built away from the origin (where a file of that very
// name stays untouched) and delivered into the destination folder itself.
TEST_P(ArchiveKinds, OneArchiveOfTheSelectionOpensInOtherReaders) {
  const auto& c = GetParam();
  SetType(c.type);
  Settings().WriteInteger("PARAMS", "TauxZip", c.level);
  SetSecret("Cryptage", "archive key");
  if (!c.password_zip.empty()) SetSecret("PasswordZip", c.password_zip);
  platform::FixedClock clock(std::chrono::system_clock::now());
  const std::string name = "Docs" + StampOf(clock.Now()) + ".zip";
  MakeFile("z.txt", Text(10000));
  MakeFile("Clients/b.doc", Text(300));
  MakeFile(name, "a file of the user that happens to bear the archive's name");
  const auto origin_before = Tree(origin, true);

  auto d = RunArchive(&clock);
  ASSERT_EQ(d->CodeErreur(), 0);
  const std::string delivered = name + (c.type == 5 ? ".ccv" : "");
  EXPECT_EQ(Tree(dest), std::vector<std::string>{delivered});
  EXPECT_EQ(Tree(origin, true), origin_before);
  EXPECT_EQ(ReadAll(origin / name), "a file of the user that happens to bear the archive's name");
  EXPECT_EQ(WorkLeft(), std::vector<std::string>{});
  EXPECT_EQ(Settings().ReadString("PARAMS", "Sauvegarde reelle", ""), "1");
  EXPECT_FALSE(Settings().ReadString("PARAMS", "LastSave", "").empty());

  fs::path archive = dest / delivered;
  if (c.type == 5) {
    auto plain = Decrypt(archive, "archive key");
    ASSERT_TRUE(plain);
    EXPECT_EQ(OracleDecrypt(archive, "archive key"), Hex(*plain));
    archive = dir / "plain.zip";
    WriteAll(archive, *plain);
  }
  EXPECT_EQ(UnzipTest(archive, c.password_zip), 0);
  auto entries = PyRead(archive, c.password_zip);
  ASSERT_TRUE(entries);
  std::vector<std::string> names;
  for (const auto& e : *entries) names.push_back(e.name);
  // Files of a folder first, sorted, then its subfolders.
  EXPECT_EQ(names, (std::vector<std::string>{EntryOf(origin / name), EntryOf(origin / "z.txt"),
                                             EntryOf(origin / "Clients/b.doc")}));
  EXPECT_EQ((*entries)[1].content, Hex(Text(10000)));
  EXPECT_EQ((*entries)[1].method, c.level == 0 ? 0 : 8);
  for (const auto& e : *entries) EXPECT_EQ(e.encrypted, !c.password_zip.empty()) << e.name;
  if (!c.password_zip.empty()) {
    EXPECT_NE(UnzipTest(archive), 0);
    EXPECT_NE(UnzipTest(archive, "not it"), 0);
    EXPECT_FALSE(PyRead(archive));
    EXPECT_FALSE(PyRead(archive, "not it"));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ArchiveKinds,
                         ::testing::Values(ArchiveCase{4, "", 9}, ArchiveCase{4, "", 0}, ArchiveCase{4, "zip pass", 9},
                                           ArchiveCase{5, "", 6}, ArchiveCase{5, "zip pass", 9}));

TEST_F(ZipRunTest, TheArchiveStopsAtTheFileLimitInScanOrder) {
  SetType(4);
  Settings().WriteInteger("PARAMS", "NbMaxFic", 30);
  std::vector<std::string> expected;
  for (int i = 0; i < 40; ++i) {
    char n[16];
    std::snprintf(n, sizeof n, "f%02d.txt", i);
    MakeFile(n, n);
    if (i < 30) expected.push_back(EntryOf(origin / n));
  }
  MakeFile("sub/late.txt", "after every file of the origin");
  auto d = RunArchive();
  EXPECT_EQ(d->MaxFichiers(), 30);
  auto archives = Tree(dest);
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_EQ(PyNames(dest / archives[0]), expected);
}

TEST_F(ZipRunTest, AnArchiveRunThatSelectsNothingWritesNoArchive) {
  SetType(4);
  MakeFile("only.txt", "x");
  Settings().WriteInteger("EXTENSIONS", "txt", 0);  // an elimination list
  auto d = RunArchive();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_TRUE(d->FichiersSelectionnes().empty());
  EXPECT_EQ(Tree(dest), std::vector<std::string>{});
  EXPECT_EQ(Settings().ReadString("PARAMS", "LastSave", ""), "");
  EXPECT_EQ(Settings().ReadString("PARAMS", "Sauvegarde reelle", ""), "");
  auto j = TodaysJournal();
  ASSERT_FALSE(j.empty());
  EXPECT_EQ(j.back(), "");
  EXPECT_EQ(j[j.size() - 2].rfind(catalog.fin_journal, 0), 0u) << ::testing::PrintToString(j);
  EXPECT_EQ(TodaysCalendar().size(), 4u);
}

TEST_F(ZipRunTest, ASecondArchiveInTheSameMinuteReplacesTheFirstAndTheNextMinuteAddsOne) {
  SetType(4);
  platform::FixedClock clock(std::chrono::system_clock::now());
  MakeFile("a.txt", "first");
  RunArchive(&clock);
  WriteAll(origin / "a.txt", "second");
  clock.Advance(1s);
  RunArchive(&clock);
  auto archives = Tree(dest);
  ASSERT_EQ(archives.size(), 1u);
  auto entries = PyRead(dest / archives[0]);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].content, Hex("second"));
  clock.Advance(60s);
  RunArchive(&clock);
  EXPECT_EQ(Tree(dest).size(), 2u);
}

// A file gone since the scan is left out with its line; the archive holds
// the rest, and LastSave waits.
TEST_F(ZipRunTest, AFileGoneBeforeArchivingIsLeftOut) {
  SetType(4);
  MakeFile("a.txt", "a");
  MakeFile("b.txt", "b");
  StatusProbe probe;
  probe.remove_at_copy = origin / "a.txt";
  auto sv = Services();
  sv.status = &probe;
  auto d = ConfigureArchive(sv);
  d->LanceArchivage();
  EXPECT_EQ(d->CodeErreur(), 0);
  auto archives = Tree(dest);
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_EQ(PyNames(dest / archives[0]), std::vector<std::string>{EntryOf(origin / "b.txt")});
  auto j = TodaysJournal();
  auto it = std::find(j.begin(), j.end(), catalog.echec_transfert);
  ASSERT_NE(it, j.end());
  EXPECT_EQ(*(it + 1), origin.string() + "/a.txt");
  EXPECT_EQ(Settings().ReadString("PARAMS", "LastSave", ""), "");

  // Every file gone: no archive, "archive not built".
  MakeFile("a.txt", "a");
  probe.remove_at_copy.clear();
  fs::remove_all(dest);
  fs::create_directories(dest);
  struct RemoveAll : StatusDisplay {
    fs::path origin;
    void AfficheEtat(std::string_view icon, std::string_view) override {
      if (icon == "Corv_2")
        for (auto& e : fs::directory_iterator(origin)) fs::remove(e.path());
    }
  } remover;
  remover.origin = origin;
  sv.status = &remover;
  auto d2 = ConfigureArchive(sv);
  d2->LanceArchivage();
  EXPECT_EQ(d2->CodeErreur(), kErreurArchive);
  EXPECT_EQ(Tree(dest), std::vector<std::string>{});
  EXPECT_EQ(WorkLeft(), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane::test
