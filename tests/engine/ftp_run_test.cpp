#include <gtest/gtest.h>

#include <algorithm>

#include "engine_fixture.h"
#include "engine/configure.h"
#include "ftp/ftp_server.h"
#include "support/container.h"
#include "util/zip_check.h"
#include "support/stored_secret.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// The folder "Docs" saving origin/ to the FTP folder sauve of a real server
// whose root is ftproot/.
class FtpRunTest : public EngineTest {
 protected:
  fs::path ftproot = dir / "ftproot";
  std::unique_ptr<FtpServer> server;

  void StartServer(std::vector<std::string> extra = {}) {
    FtpServer::Options o;
    o.extra = std::move(extra);
    server = std::make_unique<FtpServer>(ftproot, dir / "server", o);
    FolderSettings s = Settings();
    s.WriteInteger("PARAMS", "TypeDesti", 2);
    s.WriteString("PARAMS", "Destination", server->host() + "/sauve");
    s.WriteString("PARAMS", "FTPUser", "user");
    s.WriteString("PARAMS", "FTPPass", EncryptSetting("secret"));
    s.WriteString("PARAMS", "LastSave", "01/01/2001 00:00:00");
  }

  void Remote(const std::string& rel, const std::string& content) {
    fs::create_directories((ftproot / rel).parent_path());
    WriteAll(ftproot / rel, content);
  }

  platform::DateTime LastSaveWritten() { return Settings().ReadDateTime("PARAMS", "LastSave", {}); }

  // The commands of one session, without libcurl's own TYPE and the PORT
  // of each transfer.
  std::vector<std::string> Session(int n) {
    std::vector<std::string> out;
    const std::string prefix = std::to_string(n) + " ";
    for (const auto& line : server->Log()) {
      if (line.rfind(prefix, 0) != 0) continue;
      std::string cmd = line.substr(prefix.size());
      if (cmd == "CONNECT" || cmd == "DISCONNECT" || cmd.rfind("PORT ", 0) == 0 || cmd.rfind("TYPE ", 0) == 0)
        continue;
      out.push_back(cmd);
    }
    return out;
  }

  static std::vector<std::string> Login(std::vector<std::string> rest) {
    std::vector<std::string> all{"USER user", "PASS ****", "PWD", "SYST"};
    all.insert(all.end(), rest.begin(), rest.end());
    all.push_back("QUIT");
    return all;
  }

  bool JournalHas(const std::string& line) {
    auto j = TodaysJournal();
    return std::find(j.begin(), j.end(), line) != j.end();
  }
};

TEST_F(FtpRunTest, FirstRunCreatesTheRemoteTreeAndTheNextRunSendsOnlyWhatChanged) {
  StartServer();
  MakeFile("a.txt", "alpha");
  MakeFile("Sub/a.txt", "sub alpha");
  MakeFile("Sub/b.txt", "bravo, first version");
  MakeFile("Sub/Deeper/c.txt", "charlie");
  for (const char* rel : {"a.txt", "Sub/a.txt", "Sub/b.txt", "Sub/Deeper/c.txt"})
    SetMtime(origin / rel, platform::DateTime(std::chrono::system_clock::now() - 1h));

  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_TRUE(d->FichiersFTP().empty()) << "nothing listed in a folder that does not exist";
  EXPECT_EQ(d->FichiersSelectionnes().size(), 4u);
  EXPECT_EQ(Tree(ftproot), (std::vector<std::string>{"sauve/Sub/Deeper/c.txt", "sauve/Sub/a.txt", "sauve/Sub/b.txt",
                                                     "sauve/a.txt"}));
  EXPECT_EQ(ReadAll(ftproot / "sauve/Sub/Deeper/c.txt"), "charlie");
  // The listing moves without creating; the copy phase creates as it goes,
  // and the two files of Sub cost one sequence of moves.
  EXPECT_EQ(Session(1), Login({"CWD /", "CWD sauve"}));
  EXPECT_EQ(Session(2), Login({"CWD /", "CWD sauve", "MKD sauve", "CWD sauve", "STOR a.txt",
                               "CWD /", "CWD sauve", "CWD Sub", "MKD Sub", "CWD Sub", "STOR a.txt", "STOR b.txt",
                               "CWD /", "CWD sauve", "CWD Sub", "CWD Deeper", "MKD Deeper", "CWD Deeper",
                               "STOR c.txt"}));
  EXPECT_TRUE(JournalHas(catalog.Text("debutcptFicFtp")));
  EXPECT_TRUE(JournalHas(catalog.Text("fincptFicFtp")));
  EXPECT_TRUE(JournalHas((origin / "Sub/Deeper/c.txt").string()));
  const auto last_save = LastSaveWritten();
  EXPECT_GT(last_save, platform::DateTime(std::chrono::system_clock::now() - 1h));

  WriteAll(origin / "Sub/b.txt", "bravo 2");
  SetMtime(origin / "Sub/b.txt", last_save + 5s);
  const std::size_t before = server->Log().size();
  auto d2 = RunBackup();
  EXPECT_EQ(d2->CodeErreur(), 0);
  auto listed = d2->FichiersFTP();
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"sauve/Sub/Deeper/c.txt", "sauve/Sub/a.txt", "sauve/Sub/b.txt",
                                              "sauve/a.txt"}));
  EXPECT_EQ(d2->CheminsSelectionnes(), (std::vector<std::string>{(origin / "Sub/b.txt").string()}));
  EXPECT_EQ(ReadAll(ftproot / "sauve/Sub/b.txt"), "bravo 2") << "replaced, not appended to";
  auto cmds = server->Commands(before);
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "STOR b.txt"), 1);
  EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), [](auto& c) { return c.rfind("STOR", 0) == 0; }), 1);
  EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), [](auto& c) { return c.rfind("MKD", 0) == 0; }), 0);
}

struct ListingCase {
  const char* label;
  std::vector<std::string> server_options;
  std::vector<std::string> listed;    // FichiersFTP, sorted
  std::vector<std::string> selected;  // relative to the origin
  bool read_access_error;
  friend void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.label; }
};

class FtpListingTest : public FtpRunTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(FtpListingTest, WalkSkipsHiddenAndHomeFoldersAndStopsAtASummaryLine) {
  const auto& c = GetParam();
  StartServer(c.server_options);
  for (const char* rel : {"x.txt", "home/h.txt", "Sub/s.txt", "Sub/Deeper/t.txt"}) {
    MakeFile(rel, rel);
    Remote(std::string("sauve/") + rel, rel);
    SetMtime(origin / rel, platform::DateTime(std::chrono::system_clock::now() - 48h));
  }
  Remote("sauve/.hidden/y.txt", "y");
  Settings().WriteString("PARAMS", "LastSave", platform::FormatDateTime(std::chrono::system_clock::now() - 24h));

  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  auto listed = d->FichiersFTP();
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, c.listed);
  std::vector<std::string> expected;
  for (const auto& rel : c.selected) expected.push_back((origin / rel).string());
  EXPECT_EQ(d->CheminsSelectionnes(), expected);
  EXPECT_EQ(JournalHas(catalog.Text("ErreurReadAccess")), c.read_access_error);
  auto cmds = Session(1);  // the listing's
  EXPECT_NE(std::find(cmds.begin(), cmds.end(), "LIST"), cmds.end());
  for (const char* never : {"CWD home", "CWD .hidden", "CWD a/b", "CWD .."})
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), never), 0) << never;
}

const char* const kOddLines[] = {
    "--extra-line", "-rw-r--r--   1 u g 5 Jan 10 12:00 ../../outside.txt",
    "--extra-line", "drwxr-xr-x   2 u g 4096 Jan 10 12:00 a/b",
    "--extra-line", "drwxr-xr-x   2 u g 4096 Jan 10 12:00 ..",
    "--extra-line", "-rw-r--r--   1 u g 5 Jan 10 12:00 ..",
};

INSTANTIATE_TEST_SUITE_P(
    Listings, FtpListingTest,
    ::testing::Values(
        ListingCase{"plain",
                    {},
                    {"sauve/Sub/Deeper/t.txt", "sauve/Sub/s.txt", "sauve/x.txt"},
                    {"home/h.txt"},
                    false},
        ListingCase{"summary_line",
                    {"--total-line"},
                    {"sauve/x.txt"},
                    {"Sub/s.txt", "Sub/Deeper/t.txt", "home/h.txt"},
                    true},
        ListingCase{"names_leading_outside",
                    std::vector<std::string>(std::begin(kOddLines), std::end(kOddLines)),
                    {"sauve/Sub/Deeper/t.txt", "sauve/Sub/s.txt", "sauve/x.txt"},
                    {"home/h.txt"},
                    false}),
    [](const auto& p) { return std::string(p.param.label); });

struct RetryCase {
  const char* label;
  const char* option;
  bool delivered;
  friend void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.label; }
};

class FtpRetryTest : public FtpRunTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(FtpRetryTest, AFailedUploadIsRetriedOnceOverANewConnectionAndTheRunGoesOn) {
  const auto& c = GetParam();
  StartServer({c.option, "b.txt"});
  MakeFile("a.txt", "a");
  MakeFile("b.txt", "b new");
  MakeFile("c.txt", "c");
  Remote("sauve/b.txt", "b old copy");

  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(ReadAll(ftproot / "sauve/c.txt"), "c") << "the run goes on after the file";
  EXPECT_EQ(ReadAll(ftproot / "sauve/b.txt"), c.delivered ? "b new" : "b old copy")
      << "a refused upload never costs the copy already there";
  // The retry logs in again and moves from the root; no deletion first.
  EXPECT_EQ(Session(3), Login({"CWD /", "CWD sauve", "STOR b.txt", "STOR c.txt"}));
  EXPECT_EQ(server->Sessions(), 3);
  auto j = TodaysJournal();
  auto b_line = std::find(j.begin(), j.end(), (origin / "b.txt").string());
  ASSERT_NE(b_line, j.end());
  const bool reported = b_line != j.begin() && *(b_line - 1) == catalog.Text("EchecTransfert");
  EXPECT_EQ(reported, !c.delivered);
  EXPECT_TRUE(JournalHas((origin / "c.txt").string()));
  // A file that did not go through is looked at again next time.
  EXPECT_EQ(LastSaveWritten() > platform::DateTime(std::chrono::system_clock::now() - 1h), c.delivered);
}

INSTANTIATE_TEST_SUITE_P(Uploads, FtpRetryTest,
                         ::testing::Values(RetryCase{"refused_once", "--refuse-stor-once", true},
                                           RetryCase{"refused_always", "--refuse-stor", false}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(FtpRunTest, ConnectionFailuresReportErreurFtpAndChangeNothing) {
  StartServer();
  MakeFile("a.txt", "a");
  struct Case {
    const char* label;
    std::string host_text;
    std::string password;
  };
  const Case cases[] = {
      {"login refused", server->host(), "wrong"},
      {"credentials in the host text", "user:secret@" + server->host(), "secret"},
      {"nothing listening", "127.0.0.1:1", "secret"},
      {"backslash after the host", server->host() + "\\sauve", "secret"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(logs);
    fs::create_directories(logs);
    FolderSettings s = Settings();
    s.WriteString("PARAMS", "Destination", c.host_text + "/sauve");
    s.WriteString("PARAMS", "FTPPass", EncryptSetting(c.password));
    const int sessions = server->Sessions();
    auto d = RunBackup();
    EXPECT_EQ(d->CodeErreur(), kErreurConnexionFtp);
    EXPECT_TRUE(d->FichiersSelectionnes().empty());
    auto j = TodaysJournal();
    auto err = std::find(j.begin(), j.end(), catalog.Text("ErreurFtp"));
    ASSERT_NE(err, j.end());
    ASSERT_NE(err + 1, j.end());
    EXPECT_EQ(*(err + 1), "");
    EXPECT_EQ(Settings().ReadString("PARAMS", "LastSave", ""), "01/01/2001 00:00:00");
    EXPECT_EQ(Settings().ReadString("PARAMS", "Encours", ""), "0");
    EXPECT_EQ(TodaysCalendar().size(), 4u);
    EXPECT_LE(server->Sessions(), sessions + 1) << "one attempt, no copy phase";
  }
  EXPECT_FALSE(fs::exists(ftproot / "sauve"));
}

TEST_F(FtpRunTest, AFolderThatCanBeNeitherEnteredNorCreatedFailsItsFilesOnly) {
  StartServer();
  MakeFile("a.txt", "a");
  MakeFile("Sub/c.txt", "c");
  MakeFile("Sub/d.txt", "d");
  Remote("sauve/Sub", "a file where the folder should be");
  auto d = RunBackup();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(Tree(ftproot), (std::vector<std::string>{"sauve/Sub", "sauve/a.txt"}))
      << "never uploaded into the folder above";
  auto j = TodaysJournal();
  for (const char* rel : {"Sub/c.txt", "Sub/d.txt"}) {
    auto line = std::find(j.begin(), j.end(), (origin / rel).string());
    ASSERT_NE(line, j.end()) << rel;
    EXPECT_EQ(*(line - 1), catalog.Text("EchecTransfert")) << rel;
  }
  EXPECT_EQ(Settings().ReadString("PARAMS", "LastSave", ""), "01/01/2001 00:00:00");
}

// Stands for the compression step: delivers a copy named name.zip, and
// before the file "b.txt" waits (bounded) until the server has dropped the
// copy phase's connection, so that the next upload meets a dead connection.
class WaitForDropSteps : public DeliverySteps {
 public:
  explicit WaitForDropSteps(const FtpServer& server) : server_(server) {}
  std::optional<Result> Prepare(const TCustomDossier&, const fs::path& source, const fs::path& work_dir) override {
    if (source.filename() == "b.txt") dropped = server_.WaitFor("2 DISCONNECT");
    fs::create_directories(work_dir);
    fs::path out = work_dir / (source.filename().string() + ".zip");
    fs::copy_file(source, out, fs::copy_options::overwrite_existing);
    return Result{out, source.filename().string() + ".zip", {}};
  }
  bool dropped = false;

 private:
  const FtpServer& server_;
};

TEST_F(FtpRunTest, ADroppedConnectionNeverPutsAFileInAnotherFolder) {
  StartServer({"--drop-after-stor", "1"});
  Settings().WriteInteger("PARAMS", "TypeSauve", 1);
  MakeFile("a.txt", "a");
  MakeFile("b.txt", "b");
  MakeFile("Sub/c.txt", "c");
  WaitForDropSteps steps(*server);
  auto sv = Services();
  sv.steps = &steps;
  auto d = Configure(sv);
  d->LanceSauvegarde();
  ASSERT_TRUE(steps.dropped);
  EXPECT_EQ(d->CodeErreur(), 0);
  // b.txt.zip goes to the folder the connection had moved to, over a new
  // connection that moved there again, never to the login folder.
  EXPECT_EQ(Tree(ftproot), (std::vector<std::string>{"sauve/Sub/c.txt.zip", "sauve/a.txt.zip", "sauve/b.txt.zip"}));
  EXPECT_EQ(ReadAll(ftproot / "sauve/b.txt.zip"), "b");
  EXPECT_EQ(Session(3), Login({"CWD /", "CWD sauve", "STOR b.txt.zip", "CWD /", "CWD sauve", "CWD Sub", "MKD Sub",
                               "CWD Sub", "STOR c.txt.zip"}));
  EXPECT_GT(LastSaveWritten(), platform::DateTime(std::chrono::system_clock::now() - 1h));
  EXPECT_TRUE(Tree(dir / "work").empty()) << "intermediate files are removed once delivered";
}

// ---------------------------------------------------------------- purge pieces

TEST_F(FtpRunTest, PurgeListsTheDestinationFolderAndDeletesOneFileOverItsOwnConnection) {
  StartServer();
  for (const char* n : {"Docs_2024_03_15_1430.zip", "Doc_2024_03_15_1430.zip", "notes.txt"}) Remote(std::string("sauve/") + n, n);
  fs::create_directories(ftproot / "sauve/Doc_2024_01_01_0000.zip.d");
  auto d = Configure();
  auto names = d->ListeNomsFTP();
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(*names, (std::vector<std::string>{"Doc_2024_03_15_1430.zip", "Docs_2024_03_15_1430.zip", "notes.txt"}))
      << "files of the folder itself, folders left out";
  const int sessions = server->Sessions();
  EXPECT_TRUE(d->EffaceFichierFTP("Doc_2024_03_15_1430.zip"));
  EXPECT_TRUE(d->EffaceFichierFTP("gone.zip")) << "a refused deletion is not a connection failure";
  EXPECT_TRUE(d->EffaceFichierFTP("../notes.txt"));
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(server->Sessions(), sessions + 3);
  EXPECT_EQ(Tree(ftproot), (std::vector<std::string>{"sauve/Docs_2024_03_15_1430.zip", "sauve/notes.txt"}));
  EXPECT_EQ(Session(sessions + 1), Login({"CWD /", "CWD sauve", "DELE Doc_2024_03_15_1430.zip"}));
  EXPECT_EQ(Session(sessions + 3), Login({"CWD /", "CWD sauve"}));

  FolderSettings s = Settings();
  s.WriteString("PARAMS", "Destination", server->host() + "/absent");
  auto absent = Configure();
  auto none = absent->ListeNomsFTP();
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
  EXPECT_EQ(absent->CodeErreur(), 0);

  s.WriteString("PARAMS", "FTPPass", EncryptSetting("wrong"));
  auto refused = Configure();
  EXPECT_FALSE(refused->ListeNomsFTP().has_value());
  EXPECT_EQ(refused->CodeErreur(), kErreurConnexionFtp);
  EXPECT_FALSE(Configure()->EffaceFichierFTP("Docs_2024_03_15_1430.zip"));
  EXPECT_TRUE(fs::exists(ftproot / "sauve/Docs_2024_03_15_1430.zip"));
}

TEST_F(FtpRunTest, PurgeAgesServerArchivesByTheirStampAndDeletesOnlyThisFoldersOwn) {
  StartServer();
  FolderSettings s = Settings();
  s.WriteInteger("PARAMS", "TypeSauve", 4);
  s.WriteInteger("PARAMS", "NbJoursValideZip", 3);
  // The server's own times say nothing: every file is written now.
  for (const char* n : {"Docs_2026_06_06_1459.zip", "Docs_2026_06_07_1501.zip", "Doc_2026_01_01_0000.zip",
                        "Docs_2026_13_01_0000.zip", "Docs_2026_01_01_0000.zip.ccv", "old_Docs_2026_01_01_0000.zip",
                        "notes.txt"})
    Remote(std::string("sauve/") + n, n);
  Remote("sauve/Sub/Docs_2020_01_01_0000.zip", "in a subfolder");

  platform::FixedClock clock{*platform::ParseDateTime("10/06/2026 15:00:00")};
  auto sv = Services();
  sv.clock = &clock;
  const int sessions = server->Sessions();
  auto d = std::make_unique<TCustomDossier>(sv);
  ConfigurePurgeRun(*d, {"Docs", ini.string()}, ini);
  d->LanceEffaceArchives();

  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(d->ArchivesInvalides(), (std::vector<std::string>{"Docs_2026_06_06_1459.zip"}))
      << "more than three days by its stamp; the other folder's, the unreadable, the encrypted and the "
         "subfolder's stay";
  EXPECT_FALSE(fs::exists(ftproot / "sauve/Docs_2026_06_06_1459.zip"));
  EXPECT_EQ(Tree(ftproot).size(), 7u);
  EXPECT_EQ(server->Sessions(), sessions + 2) << "one listing, one connection per deleted archive";
  EXPECT_EQ(Session(sessions + 2), Login({"CWD /", "CWD sauve", "DELE Docs_2026_06_06_1459.zip"}));
  auto journal = SplitLines(ReadAll(JournalPath(logs, "2026_06_10", "Docs")));
  EXPECT_NE(std::find(journal.begin(), journal.end(), "Docs_2026_06_06_1459.zip"), journal.end());

  // An encrypting archive folder purges only its containers.
  s.WriteInteger("PARAMS", "TypeSauve", 5);
  auto e = std::make_unique<TCustomDossier>(sv);
  ConfigurePurgeRun(*e, {"Docs", ini.string()}, ini);
  e->LanceEffaceArchives();
  EXPECT_EQ(e->ArchivesInvalides(), (std::vector<std::string>{"Docs_2026_01_01_0000.zip.ccv"}));
  EXPECT_FALSE(fs::exists(ftproot / "sauve/Docs_2026_01_01_0000.zip.ccv"));

  // A refused login deletes nothing and says so.
  s.WriteString("PARAMS", "FTPPass", EncryptSetting("wrong"));
  s.WriteInteger("PARAMS", "NbJoursValideZip", 1);
  auto refused = std::make_unique<TCustomDossier>(sv);
  ConfigurePurgeRun(*refused, {"Docs", ini.string()}, ini);
  refused->LanceEffaceArchives();
  EXPECT_EQ(refused->CodeErreur(), kErreurConnexionFtp);
  EXPECT_TRUE(refused->ArchivesInvalides().empty());
  EXPECT_EQ(Tree(ftproot).size(), 6u);
}

TEST_F(FtpRunTest, ArchiveRunUploadsOneArchiveIntoTheDestinationFolder) {
  StartServer();
  MakeFile("a.txt", "alpha");
  MakeFile("Sub/b.txt", "bravo");
  Settings().WriteInteger("PARAMS", "TypeSauve", 5);
  Settings().WriteString("PARAMS", "Cryptage", EncryptSetting("clef"));
  platform::FixedClock clock{*platform::ParseDateTime("15/03/2026 14:30:10")};
  auto sv = Services();
  sv.clock = &clock;
  auto run = [&] {
    auto d = std::make_unique<TCustomDossier>(sv);
    ConfigureBackupRun(*d, {"Docs", ini.string()}, ini, RunCaller::AgentTray, true, clock.Now());
    d->LanceArchivage();
    return d;
  };
  const int sessions = server->Sessions();
  auto d = run();
  EXPECT_EQ(d->CodeErreur(), 0);
  EXPECT_EQ(Tree(ftproot), (std::vector<std::string>{"sauve/Docs_2026_03_15_1430.zip.ccv"}));
  EXPECT_EQ(server->Sessions(), sessions + 2) << "the listing, then the delivery";
  const auto delivery = Session(sessions + 2);
  EXPECT_NE(std::find(delivery.begin(), delivery.end(), "STOR Docs_2026_03_15_1430.zip.ccv"), delivery.end());
  EXPECT_NE(LastSaveWritten(), *platform::ParseDateTime("01/01/2001 00:00:00"));

  // The archive inside the container is whole, with its folder names.
  const fs::path zip = dir / "got.zip";
  ASSERT_EQ(DecryptContainerToFile(ftproot / "sauve/Docs_2026_03_15_1430.zip.ccv", zip, "clef"), DecryptResult::Done);
  EXPECT_EQ(UnzipTest(zip), 0);
  auto names = PyNames(zip);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{EntryOf(origin / "Sub/b.txt"), EntryOf(origin / "a.txt")}));
  EXPECT_EQ(Tree(origin).size(), 2u) << "nothing built beside the sources";

  // A server that refuses the login gets no archive, and LastSave stays.
  Settings().WriteString("PARAMS", "LastSave", "01/01/2001 00:00:00");
  Settings().WriteString("PARAMS", "FTPPass", EncryptSetting("wrong"));
  fs::remove(ftproot / "sauve/Docs_2026_03_15_1430.zip.ccv");
  auto refused = run();
  EXPECT_EQ(refused->CodeErreur(), kErreurConnexionFtp);
  EXPECT_TRUE(Tree(ftproot).empty());
  EXPECT_EQ(LastSaveWritten(), *platform::ParseDateTime("01/01/2001 00:00:00"));
  const auto journal = SplitLines(ReadAll(JournalPath(logs, "2026_03_15", "Docs")));
  EXPECT_NE(std::find(journal.begin(), journal.end(), catalog.Text("ErreurFtp")), journal.end());
}

// ---------------------------------------------------------------- line rules

TEST(FtpLineRules, ListingLinesGiveKindNameAndReadRight) {
  struct Case {
    const char* line;
    bool directory;
    const char* name;
    bool readable;
  };
  const Case cases[] = {
      {"drwxr-xr-x 2 user group 4096 Jan 10 12:00 My Documents", true, "My Documents", true},
      {"  -rw-r--r--   1 owner group   5 Dec 10 08:00 a.txt  ", false, "a.txt", true},
      {"DRWX------ 2 u g 1 Jan 1 2020 x", true, "x", true},
      {"--w------- 1 u g 1 Jan 1 2020 locked", false, "locked", false},
      {"total 12", false, "", false},
      {"", false, "", false},
      {"-r", false, "", false},
      {"lrwxrwxrwx 1 u g 6 Jan 10 12:00 site -> public", false, "site -> public", true},
  };
  TCustomDossier d{EngineServices{}};
  d.SetJournal(false);
  for (const auto& c : cases) {
    EXPECT_EQ(TCustomDossier::EstRepertoireFTP(c.line), c.directory) << c.line;
    EXPECT_EQ(TCustomDossier::NomFichierFTP(c.line), c.name) << c.line;
    EXPECT_EQ(d.DroitLectureFTP(c.line), c.readable) << c.line;
  }
}

TEST(FtpPaths, HostAndServerPathsOfADestination) {
  struct Case {
    const char* destination;
    const char* host;
    const char* path;
  };
  const Case cases[] = {
      {"ftp.example.org/sauvegardes/bureau", "ftp.example.org", "sauvegardes/bureau"},
      {"127.0.0.1:2121/sauve/", "127.0.0.1:2121", "sauve/"},
      {"host", "host", ""},
      {"host\\sauve\\x", "host\\sauve\\x", "sauve/x"},
  };
  for (const auto& c : cases) {
    TCustomDossier d{EngineServices{}};
    d.SetDestination(c.destination);
    EXPECT_EQ(d.HoteFTP(), c.host) << c.destination;
    EXPECT_EQ(TCustomDossier::CheminFTP(c.destination), c.path) << c.destination;
  }
}

}  // namespace
}  // namespace corvane::test
