#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "engine/threads.h"
#include "engine_fixture.h"
#include "platform/atomic_file.h"
#include "platform/ini_file.h"
#include "util/process.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST_F(EngineTest, FirstRunBuildsTheTreeOfSelectedFilesAndTheSecondCopiesOnlyChanges) {
  MakeFile("a.txt", "alpha");
  MakeFile("Clients/b.doc", "bravo");
  MakeFile("Clients/2024/c.odt", "charlie");
  fs::create_directories(origin / "Empty" / "Deeper");
  auto old_time = platform::DateTime(std::chrono::system_clock::now() - 48h);
  SetMtime(origin / "a.txt", old_time);

  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(Tree(dest, true), (std::vector<std::string>{"Clients/", "Clients/2024/", "Clients/2024/c.odt",
                                                       "Clients/b.doc", "a.txt"}));
  EXPECT_EQ(ReadAll(dest / "Clients/2024/c.odt"), "charlie");
  EXPECT_EQ(Mtime(dest / "a.txt"), old_time) << "the copy keeps the source's time";
  // Files of a folder first, then its subfolders, depth first.
  EXPECT_EQ(d->CheminsSelectionnes(),
            (std::vector<std::string>{origin.string() + "/a.txt", origin.string() + "/Clients/b.doc",
                                      origin.string() + "/Clients/2024/c.odt"}));
  FolderSettings s = Settings();
  EXPECT_EQ(s.ReadString("PARAMS", "Encours", ""), "0");
  EXPECT_EQ(s.ReadString("PARAMS", "Sauvegarde reelle", ""), "1");
  const auto last_save = s.ReadDateTime("PARAMS", "LastSave", {});

  // Second run: one file changed after LastSave, one whose time equals it.
  WriteAll(origin / "Clients/b.doc", "bravo 2");
  SetMtime(origin / "Clients/b.doc", last_save + 5s);
  SetMtime(origin / "Clients/2024/c.odt", last_save);
  WriteAll(dest / "Clients/2024/c.odt", "stale copy stays");
  auto d2 = RunBackup();
  EXPECT_EQ(d2->CheminsSelectionnes(), (std::vector<std::string>{origin.string() + "/Clients/b.doc"}));
  EXPECT_EQ(ReadAll(dest / "Clients/b.doc"), "bravo 2");
  EXPECT_EQ(ReadAll(dest / "Clients/2024/c.odt"), "stale copy stays");
}

struct SelectionCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> extensions;  // [EXTENSIONS]
  std::vector<std::pair<std::string, std::string>> dir_keys;    // section of the origin
  std::vector<std::string> existing_copies;                     // already at the destination
  bool new_fic = true;
  int type_sauve = 0;
  std::vector<std::string> expected;
};

class Selection : public EngineTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, PicksExactlyTheseFiles) {
  const SelectionCase& c = GetParam();
  for (const char* name : {"rapport.doc", "RAPPORT.DOC", "notes.txt", "photo.jpg", "Makefile"}) MakeFile(name, name);
  FolderSettings s = Settings();
  for (const auto& [k, v] : c.extensions) s.WriteString("EXTENSIONS", k, v);
  for (const auto& [k, v] : c.dir_keys) s.WriteString(origin.string() + "/", k, v);
  s.WriteBool("PARAMS", "NewFic", c.new_fic);
  s.WriteInteger("PARAMS", "TypeSauve", c.type_sauve);
  // Existing copies are old; the sources are newer than LastSave.
  s.WriteDateTime("PARAMS", "LastSave", std::chrono::system_clock::now() - 1h);
  for (const auto& e : c.existing_copies) WriteAll(dest / e, "old");

  auto d = Configure();
  d->ScanOrigine();
  std::vector<std::string> names;
  for (const auto& f : d->FichiersSelectionnes()) names.push_back(fs::path(f.chemin).filename().string());
  EXPECT_EQ(names, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Selection,
    ::testing::Values(
        SelectionCase{"everything", {}, {}, {}, true, 0, {"Makefile", "RAPPORT.DOC", "notes.txt", "photo.jpg", "rapport.doc"}},
        SelectionCase{"selection_list_exact_case", {{"doc", "1"}}, {}, {}, true, 0, {"rapport.doc"}},
        SelectionCase{"key_with_dot_never_matches", {{".doc", "1"}}, {}, {}, true, 0, {}},
        SelectionCase{"elimination_list", {{"doc", "0"}, {"jpg", "0"}}, {}, {}, true, 0, {"Makefile", "RAPPORT.DOC", "notes.txt"}},
        SelectionCase{"dir_key_1_beats_elimination", {{"jpg", "0"}}, {{"photo.jpg", "1"}, {"notes.txt", "0"}}, {}, true, 0,
                      {"Makefile", "RAPPORT.DOC", "photo.jpg", "rapport.doc"}},
        SelectionCase{"existing_copy_rules", {{"doc", "1"}}, {{"notes.txt", "0"}},
                      {"notes.txt", "photo.jpg"}, true, 0, {"photo.jpg", "rapport.doc"}},
        SelectionCase{"newfic_clear_only_listed_with_1", {}, {{"notes.txt", "1"}, {"photo.jpg", "0"}}, {}, false, 0,
                      {"notes.txt"}},
        SelectionCase{"zip_ccv_candidate", {}, {}, {"notes.txt", "rapport.doc.zip.ccv"}, true, 3,
                      {"Makefile", "RAPPORT.DOC", "notes.txt", "photo.jpg", "rapport.doc"}}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST_F(EngineTest, LimitsCountFilesAndDecimalBytes) {
  // 4,000,000 + 5,999,999 = 9,999,999 is taken; 10,000,000 is refused.
  MakeFile("a.bin", std::string(4000000, 'a'));
  MakeFile("b.bin", std::string(5999999, 'b'));
  MakeFile("c.bin", std::string(1, 'c'));
  MakeFile("d.bin", "");
  FolderSettings s = Settings();
  s.WriteInteger("PARAMS", "VolumeMax", 10);
  auto d = Configure();
  EXPECT_EQ(d->VolumeMax(), 10000000);
  d->ScanOrigine();
  std::vector<std::string> names;
  for (const auto& f : d->FichiersSelectionnes()) names.push_back(fs::path(f.chemin).filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"a.bin", "b.bin", "d.bin"}));
  EXPECT_EQ(d->VolumeSelectionne(), 9999999);

  // MaxFichiers 0 (a delay of 0 minutes) selects nothing; 2 takes the first two.
  s.WriteInteger("PARAMS", "DelaiSauve", 0);
  auto none = Configure();
  EXPECT_EQ(none->MaxFichiers(), 0);
  none->ScanOrigine();
  EXPECT_TRUE(none->FichiersSelectionnes().empty());
  s.WriteInteger("PARAMS", "DelaiSauve", 1);
  s.WriteInteger("PARAMS", "NbMaxFicMin", 2);
  s.WriteInteger("PARAMS", "VolumeMax", 32000);
  auto two = Configure();
  two->ScanOrigine();
  EXPECT_EQ(two->FichiersSelectionnes().size(), 2u);
}

TEST_F(EngineTest, FolderObjectDefaultsAndTheFileLimitRule) {
  TCustomDossier d(Services());
  EXPECT_EQ(d.MaxFichiers(), 300);
  EXPECT_EQ(d.VolumeMax(), 10000000);
  EXPECT_TRUE(d.SousRep());
  EXPECT_TRUE(d.Journal());
  EXPECT_TRUE(d.FTP());
  EXPECT_EQ(platform::FormatDateTime(d.LastSave()), "01/01/2001 00:00:00");
  d.SetNBMaxFic(300);
  d.SetDelaiSauve(5);
  EXPECT_EQ(d.MaxFichiers(), 150);
  d.SetNBMaxFic(400);
  EXPECT_EQ(d.MaxFichiers(), 150) << "NBMaxFic only lowers";
  d.SetNBMaxFic(100);
  EXPECT_EQ(d.MaxFichiers(), 100);
  d.SetPlugInn("sig");
  d.SetPlugInn("");
  EXPECT_TRUE(d.AvecPlugInn());
}

TEST_F(EngineTest, JournalAndCalendarOfTwoRunsInADay) {
  MakeFile("a.txt", "a");
  // Older than the second in which the scan starts: the next run leaves it.
  SetMtime(origin / "a.txt", platform::DateTime(std::chrono::system_clock::now() - 1h));
  RunBackup();
  MakeFile("b.txt", "b");
  RunBackup();
  auto j = TodaysJournal();
  // Opening, scan start and end, the file, closing, a blank: twice.
  ASSERT_EQ(j.size(), 12u) << ::testing::PrintToString(j);
  EXPECT_EQ(j[0].rfind(catalog.sauve + " ", 0), 0u);
  EXPECT_EQ(j[1], catalog.debut_cpt_fic);
  EXPECT_EQ(j[2], catalog.fin_cpt_fic);
  EXPECT_EQ(j[3], origin.string() + "/a.txt");
  EXPECT_EQ(j[4].rfind(catalog.fin_journal + " ", 0), 0u);
  EXPECT_EQ(j[5], "");
  EXPECT_EQ(j[9], origin.string() + "/b.txt");
  std::string raw = ReadAll(JournalPath(logs, DateJour(std::chrono::system_clock::now()), "Docs"));
  EXPECT_NE(raw.find("a.txt\r\n"), std::string::npos) << "lines end with CR LF";

  auto cal = TodaysCalendar();
  ASSERT_EQ(cal.size(), 8u);
  EXPECT_EQ(cal[0].rfind("Dossier Docs : Détection ", 0), 0u);
  EXPECT_EQ(cal[1].rfind("Dossier Docs : Transfert ", 0), 0u);
  EXPECT_EQ(cal[2].rfind("Dossier Docs : Fin       ", 0), 0u);
  EXPECT_EQ(cal[3], "");
  // The times line up: the labels are one width in characters.
  auto chars = [](const std::string& t) {
    return std::count_if(t.begin(), t.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
  };
  EXPECT_EQ(chars(cal[0]), chars(cal[1]));
  EXPECT_EQ(chars(cal[1]), chars(cal[2]));
}

TEST_F(EngineTest, AMissingLogsFolderIsCreatedRatherThanLosingTheJournal) {
  MakeFile("a.txt", "a");
  fs::remove_all(logs);
  auto d = RunBackup();
  EXPECT_EQ(ReadAll(dest / "a.txt"), "a");
  auto j = TodaysJournal();
  EXPECT_NE(std::find(j.begin(), j.end(), origin.string() + "/a.txt"), j.end());
  EXPECT_EQ(TodaysCalendar().size(), 4u);
}

TEST_F(EngineTest, OverlappingRunsKeepEveryLine) {
  // Two journals of one folder open at once (a mirror beside a backup), and
  // two folders' calendar blocks: whoever saves last keeps the other's lines.
  RunJournal first(logs, "Docs", nullptr);
  RunJournal second(logs, "Docs", nullptr);
  auto now = std::chrono::system_clock::now();
  first.Open(now, "Sauve");
  second.Open(now, "Miroir");
  first.Add("first line");
  second.Add("second line");
  second.Close(now, false, "Suspension", "Fin");
  first.Close(now, false, "Suspension", "Fin");
  auto j = TodaysJournal();
  EXPECT_NE(std::find(j.begin(), j.end(), "first line"), j.end());
  EXPECT_NE(std::find(j.begin(), j.end(), "second line"), j.end());

  std::vector<int> pids;
  for (int p = 0; p < 4; ++p) {
    pids.push_back(ForkChild([&, p] {
      for (int i = 0; i < 25; ++i) EcritCalendrier(logs, "2024_03_15", {"folder " + std::to_string(p) + " run " + std::to_string(i)});
      return 0;
    }));
  }
  for (int pid : pids) EXPECT_EQ(WaitChild(pid), 0);
  auto cal = SplitLines(ReadAll(CalendarPath(logs, "2024_03_15")));
  EXPECT_EQ(cal.size(), 100u);
}

TEST_F(EngineTest, AnUnreachableOriginStopsBeforeTheScan) {
  Settings().WriteString("PARAMS", "Origine", "");
  MakeFile("a.txt", "a");
  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 3);
  auto j = TodaysJournal();
  ASSERT_GE(j.size(), 5u);
  EXPECT_EQ(j[1], catalog.erreur_path);
  EXPECT_EQ(j[2], "");
  EXPECT_EQ(j[3], catalog.erreur_connect_reseau);
  EXPECT_EQ(j[4], "");
  EXPECT_TRUE(Tree(dest).empty());
  EXPECT_EQ(Settings().ReadString("PARAMS", "Encours", ""), "0");
  EXPECT_EQ(TodaysCalendar().size(), 4u) << "a run that started still writes its block";
}

TEST_F(EngineTest, ANetworkPathToThisComputerIsTestedAsALocalFolder) {
  fs::create_directories(dir / "net" / "testpc" / "share" / "docs");
  WriteAll(dir / "net" / "testpc" / "share" / "docs" / "n.txt", "net");
  Settings().WriteString("PARAMS", "Origine", "//testpc/share/docs");
  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(ReadAll(dest / "n.txt"), "net");
  EXPECT_EQ(d->CheminsSelectionnes(), (std::vector<std::string>{"//testpc/share/docs/n.txt"}));
  // In another letter case it is probed as a remote share, which is not mounted.
  Settings().WriteString("PARAMS", "Origine", "//TESTPC/other/docs");
  auto r = RunBackup();
  EXPECT_EQ(r->CodeErreur(), 53);
}

TEST_F(EngineTest, AlreadyRunningFolderDoesNothingAtAll) {
  MakeFile("a.txt", "a");
  Settings().WriteString("PARAMS", "Encours", "1");
  auto d = RunBackup();
  EXPECT_TRUE(d->DejaEnCours());
  EXPECT_TRUE(Tree(dest).empty());
  EXPECT_FALSE(fs::exists(CalendarPath(logs, DateJour(std::chrono::system_clock::now()))));
  EXPECT_EQ(Settings().ReadString("PARAMS", "Encours", ""), "1") << "the other run's mark is left alone";
}

TEST_F(EngineTest, ARequestPresentAtTheStartStopsTheScan) {
  for (int i = 0; i < 5; ++i) MakeFile("f" + std::to_string(i) + ".txt", "x");
  const auto before = platform::DateTime(std::chrono::system_clock::now() - 10h);
  Settings().WriteDateTime("PARAMS", "LastSave", before);
  Settings().WriteString("PARAMS", "Suspension", "1");
  auto d = RunBackup();
  EXPECT_TRUE(d->Suspendu());
  EXPECT_LE(d->FichiersSelectionnes().size(), 1u);
  EXPECT_TRUE(Tree(dest).empty());
  auto j = TodaysJournal();
  ASSERT_GE(j.size(), 4u);
  EXPECT_EQ(j[j.size() - 4], catalog.suspension);
  EXPECT_EQ(j[j.size() - 3], "");
  EXPECT_EQ(j[j.size() - 2].rfind(catalog.fin_journal, 0), 0u);
  FolderSettings s = Settings();
  EXPECT_EQ(s.ReadString("PARAMS", "Suspension", ""), "0");
  EXPECT_EQ(s.ReadString("PARAMS", "Encours", ""), "0");
  EXPECT_EQ(s.ReadDateTime("PARAMS", "LastSave", {}), std::chrono::floor<std::chrono::seconds>(before));
}

// Another process asks for a suspension while the fifth file is being
// copied: that file completes, no later one is processed.
TEST_F(EngineTest, ARequestDuringTheFifthCopyStopsTheRunAfterIt) {
  for (int i = 1; i <= 8; ++i) {
    std::string content = i == 5 ? std::string(96 << 20, 'v') : "file " + std::to_string(i);
    MakeFile("f" + std::to_string(i) + ".bin", content);
  }
  const auto before = platform::DateTime(std::chrono::system_clock::now() - 10h);
  Settings().WriteDateTime("PARAMS", "LastSave", before);
  int watcher = ForkChild([&] {
    // Waits for the fifth file's copy to be under way (the run holds it
    // open), then asks. The run is held still while the request is written:
    // the write is durable, and behind the copy's own writeback it can take
    // longer than the copy itself.
    const pid_t run = ::getppid();
    const fs::path fds = "/proc/" + std::to_string(run) + "/fd";
    const fs::path fifth = origin / "f5.bin";
    for (int i = 0; i < 30000; ++i) {
      std::error_code ec;
      for (auto& e : fs::directory_iterator(fds, ec)) {
        std::error_code link_ec;
        if (fs::read_symlink(e.path(), link_ec) == fifth) {
          ::kill(run, SIGSTOP);
          const bool written = platform::IniFile(ini).Write("PARAMS", "Suspension", "1");
          ::kill(run, SIGCONT);
          return written ? 0 : 1;
        }
      }
      ::usleep(200);
    }
    return 2;
  });
  auto d = RunBackup();
  EXPECT_EQ(WaitChild(watcher), 0);
  EXPECT_TRUE(d->Suspendu());
  EXPECT_EQ(Tree(dest), (std::vector<std::string>{"f1.bin", "f2.bin", "f3.bin", "f4.bin", "f5.bin"}));
  EXPECT_EQ(fs::file_size(dest / "f5.bin"), static_cast<std::uintmax_t>(96 << 20));
  auto j = TodaysJournal();
  ASSERT_GE(j.size(), 6u);
  EXPECT_EQ(j[j.size() - 5], origin.string() + "/f4.bin") << "the stopped file gets no line";
  EXPECT_EQ(j[j.size() - 4], catalog.suspension);
  EXPECT_EQ(j[j.size() - 2].rfind(catalog.fin_journal, 0), 0u);
  FolderSettings s = Settings();
  EXPECT_EQ(s.ReadString("PARAMS", "Suspension", ""), "0");
  EXPECT_EQ(s.ReadString("PARAMS", "Encours", ""), "0");
  EXPECT_EQ(s.ReadDateTime("PARAMS", "LastSave", {}), std::chrono::floor<std::chrono::seconds>(before));
}

// Small files are copied ahead of their turn; a request that stops the run
// among them must still leave exactly the files delivered in order up to
// the stop, each whole, and nothing of the copies made ahead.
TEST_F(EngineTest, ARequestAmongSmallFilesLeavesOnlyTheFilesDeliveredInOrder) {
  constexpr int kFiles = 700;
  auto name = [](int i) {
    char n[16];
    std::snprintf(n, sizeof n, "f%04d.txt", i);
    return std::string(n);
  };
  for (int i = 0; i < kFiles; ++i) MakeFile("many/" + name(i), "content " + std::to_string(i) + std::string(i % 5000, 'c'));
  const auto before = platform::DateTime(std::chrono::system_clock::now() - 10h);
  Settings().WriteDateTime("PARAMS", "LastSave", before);
  struct Asker : JournalSink {
    fs::path ini;
    bool asked = false;
    void Line(std::string_view line) override {
      // The first delivered batch: the run goes on with the next ones.
      if (!asked && line.size() > 4 && line.substr(line.size() - 4) == ".txt")
        asked = platform::IniFile(ini).Write("PARAMS", "Suspension", "1");
    }
  } asker;
  asker.ini = ini;
  auto sv = Services();
  sv.journal_sink = &asker;
  auto d = Configure(sv);
  d->LanceSauvegarde();
  ASSERT_TRUE(asker.asked);
  EXPECT_TRUE(d->Suspendu());
  std::vector<std::string> logged;
  for (const auto& line : TodaysJournal())
    if (line.rfind(origin.string() + "/many/", 0) == 0) logged.push_back(line.substr(origin.string().size() + 6));
  const auto delivered = Tree(dest / "many");
  ASSERT_FALSE(logged.empty());
  ASSERT_LT(delivered.size(), static_cast<std::size_t>(kFiles)) << "the run did not stop";
  // The files in order from the first; the one the run stopped after has no line.
  ASSERT_GE(delivered.size(), logged.size());
  ASSERT_LE(delivered.size(), logged.size() + 1);
  for (std::size_t i = 0; i < delivered.size(); ++i) {
    ASSERT_EQ(delivered[i], name(static_cast<int>(i)));
    if (i < logged.size()) {
      EXPECT_EQ(logged[i], name(static_cast<int>(i)));
    }
    EXPECT_EQ(ReadAll(dest / "many" / delivered[i]), ReadAll(origin / "many" / delivered[i]));
  }
  EXPECT_EQ(Settings().ReadDateTime("PARAMS", "LastSave", {}), std::chrono::floor<std::chrono::seconds>(before));
}

// A file changed while the run copies others, after the scan passed it, is
// picked up by the next run.
TEST_F(EngineTest, AFileChangedDuringTheCopyIsCopiedByTheNextRun) {
  MakeFile("a.txt", "a1");
  MakeFile("b.txt", "b1");
  struct Changer : JournalSink {
    fs::path target;
    bool done = false;
    void Line(std::string_view line) override {
      if (!done && line.size() > 5 && line.substr(line.size() - 5) == "b.txt") {
        std::this_thread::sleep_for(20ms);
        WriteAll(target, "a2 changed");
        done = true;
      }
    }
  } changer;
  changer.target = origin / "a.txt";
  auto sv = Services();
  sv.journal_sink = &changer;
  auto d = Configure(sv);
  d->LanceSauvegarde();
  ASSERT_TRUE(changer.done);
  EXPECT_EQ(ReadAll(dest / "a.txt"), "a1");
  RunBackup();
  EXPECT_EQ(ReadAll(dest / "a.txt"), "a2 changed");
}

TEST_F(EngineTest, AFailedCopyIsReportedAndRetriedByTheNextRun) {
  MakeFile("a.txt", "a");
  MakeFile("b.txt", "b");
  RunBackup();
  const auto last_save = Settings().ReadDateTime("PARAMS", "LastSave", {});
  WriteAll(origin / "a.txt", "a2");
  SetMtime(origin / "a.txt", last_save + 10s);
  // The copy cannot replace a folder standing under the delivered name.
  fs::remove(dest / "a.txt");
  fs::create_directories(dest / "a.txt" / "blocker");
  auto d = RunBackup();
  auto j = TodaysJournal();
  auto it = std::find(j.begin(), j.end(), catalog.echec_transfert);
  ASSERT_NE(it, j.end());
  EXPECT_EQ(*(it + 1), origin.string() + "/a.txt");
  EXPECT_EQ(Settings().ReadDateTime("PARAMS", "LastSave", {}), last_save) << "LastSave waits for the retry";
  fs::remove_all(dest / "a.txt");
  RunBackup();
  EXPECT_EQ(ReadAll(dest / "a.txt"), "a2");
}

// A run that ends by an unexpected error still closes its journal, clears
// the status keys it set and writes its calendar block.
TEST_F(EngineTest, ARunEndedByAnErrorCleansUpAfterItself) {
  MakeFile("a.txt", "a");
  Settings().WriteInteger("PARAMS", "TypeSauve", 1);
  struct Throwing : DeliverySteps {
    std::optional<Result> Prepare(const TCustomDossier&, const fs::path&, const fs::path&) override {
      throw std::runtime_error("zip component exploded");
    }
  } steps;
  auto sv = Services();
  sv.steps = &steps;
  Tsauvegarde thread(Configure(sv));
  thread.Execute();
  FolderSettings s = Settings();
  EXPECT_EQ(s.ReadString("PARAMS", "Encours", ""), "0");
  EXPECT_EQ(s.ReadString("PARAMS", "Suspension", "0"), "0");
  auto j = TodaysJournal();
  bool reported = std::any_of(j.begin(), j.end(), [](const std::string& l) {
    return l.find("zip component exploded") != std::string::npos;
  });
  EXPECT_TRUE(reported) << ::testing::PrintToString(j);
  EXPECT_EQ(TodaysCalendar().size(), 4u);
}

TEST_F(EngineTest, AWorkerThreadRunsTheBackupAndEndsByItself) {
  MakeFile("a.txt", "a");
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  auto thread = std::make_unique<Tsauvegarde>(Configure());
  thread->OnFinished([&] {
    std::lock_guard lock(m);
    done = true;
    cv.notify_all();
  });
  ASSERT_TRUE(TWorkerThread::Start(std::move(thread)));
  std::unique_lock lock(m);
  ASSERT_TRUE(cv.wait_for(lock, 60s, [&] { return done; }));
  EXPECT_EQ(ReadAll(dest / "a.txt"), "a");
}

// The run process killed at random moments never leaves a truncated file
// under a delivered name nor an unreadable settings file, and once the
// marks are reset as a program start does, the folder runs again.
TEST_F(EngineTest, KilledRunsLeaveNothingHalfDone) {
  std::mt19937 rng(99);
  std::vector<std::string> contents;
  for (int i = 0; i < 12; ++i) {
    std::string c(static_cast<std::size_t>((1 + i % 4) << 20), static_cast<char>('a' + i));
    MakeFile("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".bin", c);
    contents.push_back(c);
  }
  platform::Registry reg(dir / "reg2.ini");
  FolderRegister folders(reg);
  folders.Write("Docs", ini);
  const std::string harness = CORVANE_BINARY_DIR "/run_folder";
  for (int round = 0; round < 15; ++round) {
    int pid = ForkChild([&] {
      ::execl(harness.c_str(), harness.c_str(), ini.c_str(), "Docs", logs.c_str(), install.c_str(),
              (dir / "work").c_str(), static_cast<char*>(nullptr));
      return 127;
    });
    ::usleep(static_cast<useconds_t>(rng() % 60000));
    ::kill(pid, SIGKILL);
    WaitChild(pid);
    // Every delivered file is whole.
    for (int i = 0; i < 12; ++i) {
      auto p = dest / ("d" + std::to_string(i % 3)) / ("f" + std::to_string(i) + ".bin");
      if (fs::exists(p)) {
        ASSERT_EQ(fs::file_size(p), contents[static_cast<std::size_t>(i)].size()) << p;
      }
    }
    platform::ClearIniCache();
    std::string text;
    ASSERT_EQ(platform::ReadWholeFile(ini, text), platform::ReadResult::Ok);
    ASSERT_NE(text.find("[PARAMS]"), std::string::npos);
    ASSERT_NE(text.find("Origine="), std::string::npos);
    ResetRunningMarks(folders, install);
    // Start afresh next round so that every round has work to cut.
    fs::remove_all(dest);
    fs::create_directories(dest);
  }
  // After the reset the folder runs to its end.
  ResetRunningMarks(folders, install);
  auto d = RunBackup();
  EXPECT_FALSE(d->DejaEnCours());
  EXPECT_EQ(Tree(dest).size(), 12u);
}

// Names of copy temporaries in a folder.
std::vector<std::string> Temporaries(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& name : Listing(dir))
    if (platform::IsCopyTemporaryName(name)) out.push_back(name);
  return out;
}

// Whether process `pid` holds `file` open.
bool HoldsOpen(int pid, const fs::path& file) {
  std::error_code ec;
  for (auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code link_ec;
    if (fs::read_symlink(e.path(), link_ec) == file) return true;
  }
  return false;
}

// A run killed while its copies are under way leaves nothing in the
// destination: its copies had no name yet. A named temporary (what
// writers on file systems without unnamed files leave when killed) is
// cleared by the next delivery into its folder, but never while its
// writer is alive.
TEST_F(EngineTest, KilledCopiesLeaveNoDebrisAndStaleTemporariesAreCleared) {
  for (int i = 0; i < 3; ++i) MakeFile("f" + std::to_string(i) + ".bin", std::string(32 << 20, static_cast<char>('a' + i)));
  platform::Registry reg(dir / "reg2.ini");
  FolderRegister folders(reg);
  folders.Write("Docs", ini);
  const std::string harness = CORVANE_BINARY_DIR "/run_folder";
  bool killed_midway = false;
  for (int round = 0; round < 5 && !killed_midway; ++round) {
    fs::remove_all(dest);
    fs::create_directories(dest);
    int pid = ForkChild([&] {
      ::execl(harness.c_str(), harness.c_str(), ini.c_str(), "Docs", logs.c_str(), install.c_str(),
              (dir / "work").c_str(), static_cast<char*>(nullptr));
      return 127;
    });
    // Killed as soon as the second file is being copied (bounded: 20 s).
    for (int i = 0; i < 20000 && !killed_midway; ++i) {
      killed_midway = HoldsOpen(pid, origin / "f1.bin");
      if (!killed_midway) ::usleep(1000);
    }
    ::kill(pid, SIGKILL);
    WaitChild(pid);
    platform::ClearIniCache();
    ResetRunningMarks(folders, install);
  }
  ASSERT_TRUE(killed_midway) << "no run was killed with a copy under way";
  for (const auto& name : Listing(dest)) {
    EXPECT_FALSE(platform::IsCopyTemporaryName(name)) << name;
    EXPECT_EQ(fs::file_size(dest / name), 32u << 20) << name;
  }

  // Two named temporaries in the destination: one its writer was killed
  // with, and one a live writer holds.
  WriteAll(dir / "live.src", "live");
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  auto stage = [&](const char* name) {
    return ForkChild([&, name] {
      platform::StagedCopy staged;
      if (!platform::StageCopy(dir / "live.src", dest / name, staged, platform::StagingKind::Named).ok()) return 1;
      if (::write(pipe_fds[1], "s", 1) != 1) return 2;
      for (int i = 0; i < 600; ++i) ::sleep(1);
      return 3;
    });
  };
  int dead = stage("dead.bin");
  int writer = stage("live.bin");
  char c[2] = {};
  ASSERT_EQ(::read(pipe_fds[0], c, 1), 1);
  ASSERT_EQ(::read(pipe_fds[0], c + 1, 1), 1);
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  ::kill(dead, SIGKILL);
  EXPECT_EQ(WaitChild(dead), -SIGKILL);
  ASSERT_EQ(Temporaries(dest).size(), 2u);

  MakeFile("new.txt", "new");
  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  auto left = Temporaries(dest);
  ASSERT_EQ(left.size(), 1u) << ::testing::PrintToString(left);
  EXPECT_EQ(left[0].rfind(".live.bin.corvane-", 0), 0u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fs::file_size(dest / ("f" + std::to_string(i) + ".bin")), 32u << 20);
  EXPECT_EQ(ReadAll(dest / "new.txt"), "new");

  // Once that writer dies too, the next delivery clears its temporary.
  ::kill(writer, SIGKILL);
  EXPECT_EQ(WaitChild(writer), -SIGKILL);
  MakeFile("newer.txt", "newer");
  RunBackup();
  EXPECT_TRUE(Temporaries(dest).empty());
  EXPECT_EQ(ReadAll(dest / "newer.txt"), "newer");
}

}  // namespace
}  // namespace corvane::test
