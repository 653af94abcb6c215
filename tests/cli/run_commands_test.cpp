// run, mirror, purge, suspend, journal and calendar through the real
// executable, into temporary trees.
#include <map>

#include "cli_fixture.h"
#include "support/container.h"
#include "engine/journal.h"
#include "platform/datetime.h"

namespace corvane::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Today as dd/mm/yyyy, or as yyyy-mm-dd.
std::string Today(bool iso) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char buf[32];
  if (iso)
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  else
    std::strftime(buf, sizeof buf, "%d/%m/%Y", &tm);
  return buf;
}

TEST_F(CliTest, RunCopiesTheTreeAndPrintsTheJournalAsItGoes) {
  WriteOrigin("a.txt", "alpha");
  WriteOrigin("sub/b.txt", "bravo");
  WriteOrigin("sub/deeper/c.txt", std::string(100000, 'c'));
  CreateFolder("Docs");
  auto r = Cli({"run", "Docs"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadAll(dest / "a.txt"), "alpha");
  EXPECT_EQ(ReadAll(dest / "sub" / "b.txt"), "bravo");
  EXPECT_EQ(ReadAll(dest / "sub" / "deeper" / "c.txt"), std::string(100000, 'c'));

  const auto out = Lines(r.out);
  ASSERT_GE(out.size(), 6u) << r.out;
  EXPECT_EQ(out[0].rfind(Mess("Sauve") + " ", 0), 0u) << out[0];
  std::vector<std::string> files;
  for (const auto& l : out)
    if (l.rfind(origin.string(), 0) == 0) files.push_back(l);
  EXPECT_EQ(files, (std::vector<std::string>{(origin / "a.txt").string(), (origin / "sub" / "b.txt").string(),
                                             (origin / "sub" / "deeper" / "c.txt").string()}));
  EXPECT_EQ(out[out.size() - 2].rfind(Mess("FinJournal") + " ", 0), 0u) << r.out;
  // No terminal: no progress line.
  EXPECT_EQ(r.err.find("/3"), std::string::npos) << r.err;
  EXPECT_EQ(Param("Docs", "Encours"), "0");
  EXPECT_NE(Param("Docs", "LastSave"), "<absent>");

  // The journal the run wrote, read back for today in every date form.
  const fs::path journal = logs / (DateJour(std::chrono::system_clock::now()) + " Docs.jcv");
  ASSERT_TRUE(fs::exists(journal));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"journal", "Docs"}, {"journal", "docs", Today(false)},
        {"journal", "Docs", Today(true)}}) {
    auto j = Cli(args);
    ASSERT_EQ(j.exit_code, 0) << j.err;
    EXPECT_EQ(Lines(j.out), SplitLines(ReadAll(journal)));
    EXPECT_EQ(Lines(j.out), out);
  }
  auto cal = Cli({"calendar", Today(true)});
  ASSERT_EQ(cal.exit_code, 0) << cal.err;
  EXPECT_NE(cal.out.find("Dossier Docs : Détection "), std::string::npos) << cal.out;
  EXPECT_NE(cal.out.find("Dossier Docs : Fin       "), std::string::npos) << cal.out;
}

TEST_F(CliTest, JournalAndCalendarOfADayWithoutFiles) {
  CreateFolder("Docs");
  auto j = Cli({"journal", "Docs", "01/01/2001"});
  EXPECT_EQ(j.exit_code, 1);
  EXPECT_NE(j.err.find(Mess("NoJournal")), std::string::npos) << j.err;
  auto c = Cli({"calendar", "2001-01-01"});
  EXPECT_EQ(c.exit_code, 1);
  EXPECT_NE(c.err.find(Mess("NoCal")), std::string::npos) << c.err;
  for (const char* bad : {"31/02/2024", "2024-13-01", "1/1/24", "yesterday"}) {
    auto b = Cli({"calendar", bad});
    EXPECT_EQ(b.exit_code, 1) << bad;
    EXPECT_NE(b.err.find(Mess("ErreurDate")), std::string::npos) << bad << ": " << b.err;
  }
}

// The agent's immediate run honours the folder's limits; --no-limits lifts
// them for a first full backup.
TEST_F(CliTest, RunKeepsTheFoldersLimitsUnlessLifted) {
  for (const char* n : {"1.txt", "2.txt", "3.txt"}) WriteOrigin(n, n);
  CreateFolder("Docs", {"--max-files", "1"});
  auto limited = Cli({"run", "Docs"});
  ASSERT_EQ(limited.exit_code, 0) << limited.err;
  EXPECT_EQ(Listing(dest).size(), 1u);
  auto full = Cli({"run", "Docs", "--no-limits"});
  ASSERT_EQ(full.exit_code, 0) << full.err;
  EXPECT_EQ(Listing(dest), (std::set<std::string>{"1.txt", "2.txt", "3.txt"}));
}

// Runs that report an error exit 2 with the code and its meaning, and leave
// no running mark behind.
struct RunErrorCase {
  std::string label;
  std::vector<std::string> create;  // options of the folder
  std::string command;
  bool remove_origin;
  bool remove_destination;
  std::string expected;  // catalog key on standard error
};
void PrintTo(const RunErrorCase& c, std::ostream* os) { *os << c.label; }

class RunErrorTest : public CliTest, public ::testing::WithParamInterface<RunErrorCase> {};

TEST_P(RunErrorTest, ExitsTwo) {
  const RunErrorCase& c = GetParam();
  WriteOrigin("a.txt", "alpha");
  WriteAll(dir / "key", "k");
  std::vector<std::string> options = c.create;
  for (auto& o : options)
    if (o == "@key") o = (dir / "key").string();
  CreateFolder("Docs", options);
  if (c.remove_origin) fs::remove_all(origin);
  if (c.remove_destination) fs::remove_all(dest);
  auto r = Cli({c.command, "Docs"});
  EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
  if (!c.expected.empty()) {
    EXPECT_NE(r.err.find(Mess(c.expected)), std::string::npos) << r.err;
  }
  EXPECT_NE(Param("Docs", "Encours"), "1");
  EXPECT_NE(Param("Docs", "Suspension"), "1");
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RunErrorTest,
    ::testing::ValuesIn(std::vector<RunErrorCase>{
        {"OriginMissing", {}, "run", true, false, "ErreurPath"},
        {"DestinationMissing", {}, "run", false, true, "ErreurPath"},
        {"FtpDestination", {"--dest-type", "ftp", "--ftp-password-file", "@key"}, "run", false, false, "ErreurFtp"},
        {"ArchiveOriginMissing", {"--kind", "archive"}, "run", true, false, ""},
        {"MirrorDestinationMissing", {}, "mirror", false, true, ""},
        {"PurgeDestinationMissing", {"--kind", "archive", "--validity", "1"}, "purge", false, true, ""},
    }),
    [](const auto& tp) { return tp.param.label; });

TEST_F(CliTest, FilesThatCouldNotBeDeliveredAreAnError) {
  // A file where the destination needs a folder: both copies fail, and the
  // run says how many files did not go through instead of reporting success.
  WriteOrigin("Sub/a.txt", "alpha");
  WriteOrigin("Sub/b.txt", "bravo");
  WriteAll(dest / "Sub", "in the way");
  CreateFolder("Docs", {"--subfolders"});
  auto r = Cli({"run", "Docs"});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_NE(r.err.find(Mess("CliEchecFichiers") + "2"), std::string::npos) << r.err;
  EXPECT_EQ(Listing(dest), (std::set<std::string>{"Sub"}));
  EXPECT_EQ(ReadAll(dest / "Sub"), "in the way");
  EXPECT_EQ(Param("Docs", "LastSave"), "<absent>");
}

TEST_F(CliTest, CompressedAndEncryptedFoldersRunEndToEnd) {
  WriteOrigin("a.txt", "alpha");
  const fs::path key = dir / "key";
  WriteAll(key, "clef\n");
  CreateFolder("Docs", {"--kind", "zip-crypt", "--key-file", key.string()});
  auto r = Cli({"run", "Docs"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Listing(dest), (std::set<std::string>{"a.txt.zip.ccv"}));
  EXPECT_EQ(Listing(origin), (std::set<std::string>{"a.txt"})) << "no intermediate beside the source";
  const fs::path zip = dir / "a.zip";
  ASSERT_EQ(DecryptContainerToFile(dest / "a.txt.zip.ccv", zip, "clef"), DecryptResult::Done);
  auto unzip = RunCommand({"/usr/bin/unzip", "-p", zip.string()});
  EXPECT_EQ(unzip.exit_code, 0);
  EXPECT_EQ(unzip.output, "alpha");
}

TEST_F(CliTest, EncryptedArchiveMirrorAndPurgeRunEndToEnd) {
  WriteOrigin("a.txt", "alpha");
  const fs::path key = dir / "key";
  WriteAll(key, "clef");

  // An encrypting folder delivers a container the library opens.
  CreateFolder("Crypt", {"--kind", "crypt", "--key-file", key.string()});
  auto c = Cli({"run", "Crypt"});
  ASSERT_EQ(c.exit_code, 0) << c.err;
  ASSERT_EQ(DecryptContainerToFile(dest / "a.txt.ccv", dir / "plain", "clef"), DecryptResult::Done);
  EXPECT_EQ(ReadAll(dir / "plain"), "alpha");
  ASSERT_EQ(Cli({"delete", "Crypt"}).exit_code, 0);
  fs::remove(dest / "a.txt.ccv");

  // An archive folder delivers one dated archive, and its purge removes the
  // archives past their validity only.
  CreateFolder("Arch", {"--kind", "archive", "--validity", "1"});
  auto a = Cli({"run", "Arch"});
  ASSERT_EQ(a.exit_code, 0) << a.err;
  auto made = Listing(dest);
  ASSERT_EQ(made.size(), 1u);
  const std::string archive = *made.begin();
  EXPECT_EQ(archive.rfind("Arch_", 0), 0u) << archive;
  auto unzip = RunCommand({"/usr/bin/unzip", "-p", (dest / archive).string()});
  EXPECT_EQ(unzip.exit_code, 0);
  EXPECT_EQ(unzip.output, "alpha");
  const fs::path old = dest / "Arch_2020_01_01_0000.zip";
  WriteAll(old, "old");
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  auto p = Cli({"purge", "Arch"});
  EXPECT_EQ(p.exit_code, 0) << p.err;
  EXPECT_EQ(Listing(dest), (std::set<std::string>{archive}));
  ASSERT_EQ(Cli({"delete", "Arch"}).exit_code, 0);

  // A mirror deletes the copies whose source is gone once past the grace
  // period (the editor's three days), and keeps the others.
  fs::remove(dest / archive);
  CreateFolder("Docs");
  ASSERT_EQ(Cli({"run", "Docs"}).exit_code, 0);
  const fs::path orphan = dest / "gone.txt";
  WriteAll(orphan, "gone");
  fs::last_write_time(orphan, fs::file_time_type::clock::now() - std::chrono::hours(24 * 10));
  const fs::path recent = dest / "recent.txt";
  WriteAll(recent, "recent");
  auto m = Cli({"mirror", "Docs"});
  EXPECT_EQ(m.exit_code, 0) << m.err;
  EXPECT_EQ(Listing(dest), (std::set<std::string>{"a.txt", "recent.txt"}));
}

TEST_F(CliTest, OperationsTheFolderDoesNotOffer) {
  CreateFolder("Docs");
  CreateFolder("Arch", {"--kind", "archive"});
  CreateFolder("Remote", {"--dest-type", "ftp", "--ftp-password-file", "/dev/null"});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"purge", "Docs"}, "CliPasArchive"},
      {{"mirror", "Arch"}, "CliMiroirImpossible"},
      {{"mirror", "Remote"}, "CliMiroirImpossible"},
      {{"run", "Nope"}, "CliDossierInconnu"},
  };
  for (const auto& [args, key] : cases) {
    auto r = Cli(args);
    EXPECT_EQ(r.exit_code, 1) << args[0] << " " << args[1];
    EXPECT_NE(r.err.find(Mess(key)), std::string::npos) << r.err;
  }
}

// A folder big enough that its run is still going when the test acts on it;
// the run is held with SIGSTOP while the test acts, so nothing depends on
// how fast it goes.
class RunningFolderTest : public CliTest {
 protected:
  static constexpr int kFiles = 3000;
  fs::path out = dir / "run.out";
  fs::path err = dir / "run.err";

  void SetUp() override {
    CliTest::SetUp();
    for (int i = 0; i < kFiles; ++i) WriteOrigin("f" + std::to_string(i) + ".txt", "x");
    CreateFolder("Big");
  }

  // Started, and held once it has printed its journal's opening line.
  int StartHeld() {
    int pid = Start({"run", "Big", "--no-limits"}, out, err);
    EXPECT_TRUE(WaitRunning("Big"));
    const std::string opening = Mess("Sauve");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadAll(out).find(opening) == std::string::npos && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGSTOP);
    return pid;
  }
};

TEST_F(RunningFolderTest, SecondRunWhileTheFirstRunsExitsThree) {
  int pid = StartHeld();
  // Printed as the run adds them: the journal file is written only at its end.
  EXPECT_EQ(ReadAll(out).rfind(Mess("Sauve"), 0), 0u);
  EXPECT_TRUE(!fs::exists(logs) || Listing(logs).empty());
  auto busy = Cli({"delete", "Big"});
  EXPECT_EQ(busy.exit_code, 3);
  EXPECT_TRUE(fs::exists(SettingsOf("Big")));
  auto second = Cli({"run", "Big"});
  ::kill(pid, SIGCONT);
  EXPECT_EQ(second.exit_code, 3) << second.err;
  EXPECT_NE(second.err.find(Mess("CliDejaEnCours")), std::string::npos) << second.err;
  EXPECT_TRUE(second.out.empty()) << second.out;
  EXPECT_EQ(WaitChild(pid), 0) << ReadAll(err);
  EXPECT_EQ(Listing(dest).size(), static_cast<std::size_t>(kFiles));
}

TEST_F(RunningFolderTest, SuspendFromAnotherProcessStopsTheRunWithFour) {
  CreateFolder("Idle");
  int pid = StartHeld();
  auto s = Cli({"suspend"});
  ::kill(pid, SIGCONT);
  // Only running folders are asked: a request left in an idle one would
  // stop its next run.
  EXPECT_EQ(Param("Idle", "Suspension"), "<absent>");
  EXPECT_EQ(s.err.find("Idle"), std::string::npos) << s.err;
  EXPECT_EQ(s.exit_code, 0) << s.err;
  EXPECT_NE(s.err.find(Mess("CliSuspensionDemandee") + "Big"), std::string::npos) << s.err;
  EXPECT_EQ(WaitChild(pid), 4) << ReadAll(err);
  EXPECT_NE(ReadAll(err).find(Mess("Suspension")), std::string::npos);
  const auto lines = Lines(ReadAll(out));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4], Mess("Suspension"));
  EXPECT_EQ(lines[lines.size() - 2].rfind(Mess("FinJournal"), 0), 0u);
  EXPECT_LT(Listing(dest).size(), static_cast<std::size_t>(kFiles));
  EXPECT_EQ(Param("Big", "Encours"), "0");
  EXPECT_EQ(Param("Big", "Suspension"), "0");
  EXPECT_EQ(Param("Big", "LastSave"), "<absent>");
  // Nothing left running: a new request reaches no folder.
  auto none = Cli({"suspend"});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_NE(none.err.find(Mess("CliAucunEnCours")), std::string::npos) << none.err;
}

TEST_F(RunningFolderTest, InterruptStopsTheRunCleanly) {
  int pid = StartHeld();
  ::kill(pid, SIGINT);
  ::kill(pid, SIGCONT);
  EXPECT_EQ(WaitChild(pid), 4) << ReadAll(err);
  EXPECT_EQ(Param("Big", "Encours"), "0");
  EXPECT_EQ(Param("Big", "Suspension"), "0");
}

}  // namespace
}  // namespace corvane::test
