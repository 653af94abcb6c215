#include <gtest/gtest.h>

#include "engine/configure.h"
#include "engine/purge.h"
#include "engine/threads.h"
#include "engine_fixture.h"

namespace corvane::test {
namespace {

platform::DateTime When(const char* text) {
  auto t = platform::ParseDateTime(text);
  EXPECT_TRUE(t) << text;
  return t.value_or(platform::DateTime{});
}

TEST(DateArchive, ReadsTheStampAfterTheFolderName) {
  EXPECT_EQ(DateArchive("Documents_2024_03_15_1430.zip", "Documents", ".zip"), When("15/03/2024 14:30"));
  // A folder name holding "_" is no obstacle: the stamp follows the name.
  EXPECT_EQ(DateArchive("Mes_Docs_2024_03_15_0905.zip.ccv", "Mes_Docs", ".zip.ccv"), When("15/03/2024 09:05"));
  for (const char* bad : {"Documents_2024_02_30_1430.zip", "Documents_2024_13_15_1430.zip",
                          "Documents_2024_03_15_2460.zip", "Documents_2024_03_15_143.zip",
                          "Documents_24_03_15_1430.zip", "Documents_0024_03_15_1430.zip",
                          "Documents_2024-03-15_1430.zip", "Documents_2024_03_15_1430 (2).zip",
                          "Documents_2024_03_15_1430.zip.ccv", "Documentss_2024_03_15_1430.zip",
                          "Documents2024_03_15_1430.zip", "Documents_2024_03_15_14a0.zip"})
    EXPECT_FALSE(DateArchive(bad, "Documents", ".zip")) << bad;
}

TEST(JoursValidite, PositionsOfTheListMeanTheDaysTheirLabelsSay) {
  // "Permanente", 1 to 10 days, 15, 30, 60, 90 days, six months, one year.
  const std::vector<std::int32_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 15, 30, 60, 90, 183, 365};
  for (std::int64_t p = 0; p <= 16; ++p) EXPECT_EQ(JoursValidite(p), expected[static_cast<std::size_t>(p)]) << p;
  EXPECT_EQ(JoursValidite(-3), 0);
  EXPECT_EQ(JoursValidite(40), 40) << "a number the editor never writes is read as days";
}

struct ChoiceCase {
  const char* label;
  std::string name;
  const char* nom;
  bool crypte;
  bool chosen;
};

class Choice : public ::testing::TestWithParam<ChoiceCase> {};

// Every archive is a month old; validity 3 days.
TEST_P(Choice, OnlyThisFoldersArchivesOfThePattern) {
  const ChoiceCase& c = GetParam();
  const auto now = When("10/06/2026 00:00");
  const auto old = When("10/05/2026 10:00");
  std::vector<ArchiveEntry> entries = {{c.name, old}};
  auto chosen = ChoisitArchivesInvalides(entries, c.nom, MotifArchives(c.crypte), now, 3);
  EXPECT_EQ(chosen, c.chosen ? std::vector<std::string>{c.name} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, Choice,
    ::testing::Values(ChoiceCase{"own_zip", "Docs_2026_05_10_1000.zip", "Docs", false, true},
                      ChoiceCase{"own_ccv", "Docs_2026_05_10_1000.zip.ccv", "Docs", true, true},
                      ChoiceCase{"plain_zip_in_an_encrypting_folder", "Docs_2026_05_10_1000.zip", "Docs", true, false},
                      ChoiceCase{"ccv_in_a_zip_folder", "Docs_2026_05_10_1000.zip.ccv", "Docs", false, false},
                      ChoiceCase{"longer_folder_name", "Docs_2026_05_10_1000.zip", "Doc", false, false},
                      ChoiceCase{"shorter_folder_name", "Doc_2026_05_10_1000.zip", "Docs", false, false},
                      ChoiceCase{"name_inside", "Old Docs_2026_05_10_1000.zip", "Docs", false, false},
                      ChoiceCase{"other_extension", "Docs_2026_05_10_1000.txt", "Docs", false, false},
                      ChoiceCase{"no_stamp", "Docs rapport.zip", "Docs", false, false},
                      ChoiceCase{"hidden", ".Docs_2026_05_10_1000.zip", ".Docs", false, false},
                      ChoiceCase{"leads_out", "../Docs_2026_05_10_1000.zip", "..", false, false},
                      ChoiceCase{"slash_in_name", "Docs/x_2026_05_10_1000.zip", "Docs/x", false, false},
                      ChoiceCase{"underscore_folder", "Mes_Docs_2026_05_10_1000.zip", "Mes_Docs", false, true}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST(Choice, AnUnreadableNameNeverEndsTheChoiceAndValidityZeroKeepsAll) {
  const auto now = When("10/06/2026 00:00");
  std::vector<ArchiveEntry> entries = {{"Docs_2026_05_01_1000.zip", When("01/05/2026 10:00")},
                                       {"Docs_9999_99_99_9999.zip", When("01/05/2026 10:00")},
                                       {"Docs_2026_05_02_1000.zip", When("02/05/2026 10:00")},
                                       {"Docs_2026_06_09_1000.zip", When("09/06/2026 10:00")}};
  EXPECT_EQ(ChoisitArchivesInvalides(entries, "Docs", "*.zip", now, 3),
            (std::vector<std::string>{"Docs_2026_05_01_1000.zip", "Docs_2026_05_02_1000.zip"}));
  EXPECT_TRUE(ChoisitArchivesInvalides(entries, "Docs", "*.zip", now, 0).empty()) << "permanent archives";
}

// The agent's purge of folder Docs (an archive folder) at 10/06/2026 15:00.
class PurgeTest : public EngineTest {
 protected:
  platform::FixedClock clock{When("10/06/2026 15:00:00")};

  void SetUp() override {
    EngineTest::SetUp();
    Settings().WriteInteger("PARAMS", "TypeSauve", 4);
    Settings().WriteInteger("PARAMS", "NbJoursValideZip", 3);
  }

  std::unique_ptr<TCustomDossier> RunPurge(const std::string& nom = "Docs", const fs::path& settings = {}) {
    const fs::path file = settings.empty() ? ini : settings;
    auto sv = Services();
    sv.clock = &clock;
    auto d = std::make_unique<TCustomDossier>(sv);
    ConfigurePurgeRun(*d, {nom, file.string()}, file);
    d->LanceEffaceArchives();
    return d;
  }

  // An archive at the destination, last written at its stamp's time.
  fs::path Archive(const std::string& name, const char* time) {
    fs::path p = dest / name;
    WriteAll(p, "archive");
    SetMtime(p, When(time));
    return p;
  }

  std::vector<std::string> Journal(const std::string& nom = "Docs") {
    return SplitLines(ReadAll(JournalPath(logs, "2026_06_10", nom)));
  }
};

TEST_F(PurgeTest, ValidityCountsWholeDaysFromTodaysMidnight) {
  auto four = Archive("Docs_2026_06_06_1000.zip", "06/06/2026 10:00");
  auto three = Archive("Docs_2026_06_07_1000.zip", "07/06/2026 10:00");  // 2.58 days old
  auto d = RunPurge();
  EXPECT_FALSE(fs::exists(four));
  EXPECT_TRUE(fs::exists(three));
  EXPECT_EQ(d->ArchivesInvalides(), (std::vector<std::string>{four.string()}));

  // The next day's purge takes it.
  clock.Set(When("11/06/2026 03:00:00"));
  RunPurge();
  EXPECT_FALSE(fs::exists(three));
}

TEST_F(PurgeTest, AnEncryptingFolderPurgesOnlyItsContainersAndNothingElseIsTouched) {
  Settings().WriteInteger("PARAMS", "TypeSauve", 5);
  auto ccv = Archive("Docs_2026_01_01_1000.zip.ccv", "01/01/2026 10:00");
  std::vector<fs::path> untouched = {Archive("Docs_2026_01_01_1000.zip", "01/01/2026 10:00"),
                                     Archive("Docs_2026_01_01_1000.txt", "01/01/2026 10:00"),
                                     Archive("Docs rapport.zip.ccv", "01/01/2026 10:00"),
                                     Archive(".Docs_2026_01_01_1000.zip.ccv", "01/01/2026 10:00")};
  fs::create_directories(dest / "Sub");
  auto below = dest / "Sub" / "Docs_2026_01_01_1000.zip.ccv";
  WriteAll(below, "in a subfolder");
  SetMtime(below, When("01/01/2026 10:00"));
  RunPurge();
  EXPECT_FALSE(fs::exists(ccv));
  for (const auto& p : untouched) EXPECT_TRUE(fs::exists(p)) << p;
  EXPECT_TRUE(fs::exists(below));
}

TEST_F(PurgeTest, FoldersDocAndDocsInOneDestinationNeverPurgeEachOther) {
  fs::path doc_ini = dir / "Doc.ini";
  fs::copy_file(ini, doc_ini);
  auto doc = Archive("Doc_2026_01_01_1000.zip", "01/01/2026 10:00");
  auto docs = Archive("Docs_2026_01_01_1000.zip", "01/01/2026 10:00");
  RunPurge("Doc", doc_ini);
  EXPECT_FALSE(fs::exists(doc));
  EXPECT_TRUE(fs::exists(docs));
  auto doc2 = Archive("Doc_2026_01_02_1000.zip", "02/01/2026 10:00");
  RunPurge("Docs");
  EXPECT_FALSE(fs::exists(docs));
  EXPECT_TRUE(fs::exists(doc2));
}

TEST_F(PurgeTest, LongValiditiesOfTheListAreHonoured) {
  Settings().WriteInteger("PARAMS", "NbJoursValideZip", 11);  // "15 jours"
  auto twelve = Archive("Docs_2026_05_29_1000.zip", "29/05/2026 10:00");
  auto sixteen = Archive("Docs_2026_05_25_1000.zip", "25/05/2026 10:00");
  RunPurge();
  EXPECT_TRUE(fs::exists(twelve)) << "12 days is within 15";
  EXPECT_FALSE(fs::exists(sixteen));
  Settings().WriteInteger("PARAMS", "NbJoursValideZip", 16);  // "1 an"
  auto months = Archive("Docs_2025_08_01_1000.zip", "01/08/2025 10:00");
  auto years = Archive("Docs_2025_06_01_1000.zip", "01/06/2025 10:00");
  RunPurge();
  EXPECT_TRUE(fs::exists(months));
  EXPECT_FALSE(fs::exists(years));
}

TEST_F(PurgeTest, JournalAndCalendarOfAPurge) {
  auto old = Archive("Docs_2026_01_01_1000.zip", "01/01/2026 10:00");
  auto sv = Services();
  sv.clock = &clock;
  // Through the agent's worker thread, as the scheduler starts it.
  auto thread = PrepareRun(sv, {"Docs", ini.string()}, ini, RunKind::Purge, RunCaller::AgentScheduler, clock.Now());
  ASSERT_NE(dynamic_cast<TValideZip*>(thread.get()), nullptr);
  thread->Execute();
  EXPECT_FALSE(fs::exists(old));
  EXPECT_EQ(Journal(), (std::vector<std::string>{catalog.del_zip + " 15:00:00", old.string(), "",
                                                 catalog.fin_journal + " 15:00:00", ""}));
  EXPECT_EQ(SplitLines(ReadAll(CalendarPath(logs, "2026_06_10"))),
            (std::vector<std::string>{"Dossier Docs : Début Efface Archives invalides   15:00:00",
                                      "Dossier Docs : Fin efface archives invalides   15:00:00", ""}));
  EXPECT_EQ(Settings().ReadString("PARAMS", "Suspension", "0"), "0");
}

struct NothingCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> keys;
  int code;
  const char* line;  // a line the journal must hold, or null
};

class PurgeDeletesNothing : public PurgeTest, public ::testing::WithParamInterface<NothingCase> {};

TEST_P(PurgeDeletesNothing, AndStillWritesItsEnd) {
  const NothingCase& c = GetParam();
  auto old = Archive("Docs_2026_01_01_1000.zip", "01/01/2026 10:00");
  for (const auto& [k, v] : c.keys) Settings().WriteString("PARAMS", k, v);
  auto d = RunPurge();
  EXPECT_TRUE(fs::exists(old));
  EXPECT_TRUE(d->ArchivesInvalides().empty());
  EXPECT_EQ(d->CodeErreur(), c.code);
  auto j = Journal();
  ASSERT_GE(j.size(), 4u);
  EXPECT_EQ(j[0].rfind(catalog.del_zip, 0), 0u);
  if (c.line) {
    const std::string& text = catalog.Text(c.line);
    EXPECT_NE(std::find(j.begin(), j.end(), text), j.end()) << ::testing::PrintToString(j);
  }
  EXPECT_EQ(j[j.size() - 2].rfind(catalog.fin_journal, 0), 0u);
  EXPECT_EQ(SplitLines(ReadAll(CalendarPath(logs, "2026_06_10"))).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PurgeDeletesNothing,
    ::testing::Values(NothingCase{"permanent", {{"NbJoursValideZip", "0"}}, 0, nullptr},
                      NothingCase{"backup_folder", {{"TypeSauve", "1"}}, 0, nullptr},
                      NothingCase{"ftp_unreachable", {{"TypeDesti", "2"}}, 10038, nullptr},
                      NothingCase{"missing_destination", {{"Destination", "/nonexistent/dest"}}, kErreurChemin, "ErreurPath"}),
    [](const auto& tp) { return std::string(tp.param.label); });

}  // namespace
}  // namespace corvane::test
