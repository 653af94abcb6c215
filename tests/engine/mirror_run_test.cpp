#include <gtest/gtest.h>

#include "engine/configure.h"
#include "engine/threads.h"
#include "engine_fixture.h"

namespace corvane::test {
namespace {

platform::DateTime At(const char* text) {
  auto t = platform::ParseDateTime(text);
  EXPECT_TRUE(t) << text;
  return t.value_or(platform::DateTime{});
}

// The mirror of folder Docs, run on this thread at 10/06/2026 10:00.
class MirrorTest : public EngineTest {
 protected:
  platform::FixedClock clock{At("10/06/2026 10:00:00")};

  void SetUp() override {
    EngineTest::SetUp();
    Settings().WriteInteger("PARAMS", "DelaiMiroir", 1);
  }

  std::unique_ptr<TCustomDossier> RunMirror() {
    auto sv = Services();
    sv.clock = &clock;
    auto d = std::make_unique<TCustomDossier>(sv);
    ConfigureMirrorRun(*d, {"Docs", ini.string()}, ini);
    d->LanceMiroir();
    return d;
  }

  // A copy at the destination with that last-write time.
  fs::path Copy(const std::string& rel, const char* time) {
    fs::path p = dest / rel;
    fs::create_directories(p.parent_path());
    WriteAll(p, "copy of " + rel);
    SetMtime(p, At(time));
    return p;
  }

  std::vector<std::string> Journal() { return SplitLines(ReadAll(JournalPath(logs, "2026_06_10", "Docs"))); }
  std::vector<std::string> Calendar() { return SplitLines(ReadAll(CalendarPath(logs, "2026_06_10"))); }
};

struct AgeCase {
  const char* label;
  int delai;
  const char* modified;
  bool deleted;
};

class MirrorAges : public MirrorTest, public ::testing::WithParamInterface<AgeCase> {};

TEST_P(MirrorAges, AnOrphanGoesOnlyOnceOlderThanTheGracePeriod) {
  const AgeCase& c = GetParam();
  Settings().WriteInteger("PARAMS", "DelaiMiroir", c.delai);
  auto orphan = Copy("orphan.txt", c.modified);
  // Its source still exists: it stays whatever its age.
  MakeFile("kept.txt", "source");
  auto kept = Copy("kept.txt", "01/01/2020 00:00:00");
  auto d = RunMirror();
  ASSERT_TRUE(d);
  EXPECT_EQ(fs::exists(orphan), !c.deleted);
  EXPECT_TRUE(fs::exists(kept));
  EXPECT_EQ(d->FichiersMiroir().size(), c.deleted ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MirrorAges,
    ::testing::Values(AgeCase{"one_day_two_days_old", 1, "08/06/2026 10:00:00", true},
                      AgeCase{"one_day_yesterday_afternoon", 1, "09/06/2026 15:00:00", false},
                      AgeCase{"one_day_exactly_one_day_before_midnight", 1, "09/06/2026 00:00:00", false},
                      AgeCase{"one_day_a_minute_more", 1, "08/06/2026 23:59:00", true},
                      AgeCase{"zero_yesterday_evening", 0, "09/06/2026 23:59:00", true},
                      AgeCase{"zero_today", 0, "10/06/2026 00:30:00", false},
                      AgeCase{"zero_in_the_future", 0, "12/06/2026 08:00:00", false},
                      AgeCase{"thirty_days_a_month_old", 30, "05/05/2026 10:00:00", true},
                      AgeCase{"thirty_days_three_weeks_old", 30, "20/05/2026 10:00:00", false}),
    [](const auto& tp) { return std::string(tp.param.label); });

struct NameCase {
  const char* label;
  int type_sauve;
  const char* copy;    // at the destination, two years old
  const char* source;  // in the origin, or null
  bool deleted;
};

class MirrorNames : public MirrorTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(MirrorNames, CopiesAreComparedUnderTheirSourceName) {
  const NameCase& c = GetParam();
  Settings().WriteInteger("PARAMS", "TypeSauve", c.type_sauve);
  if (c.source) MakeFile(c.source, "source");
  auto copy = Copy(c.copy, "01/06/2024 12:00:00");
  RunMirror();
  EXPECT_EQ(fs::exists(copy), !c.deleted);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MirrorNames,
    ::testing::Values(NameCase{"zip_ccv_kept_while_its_source_exists", 3, "x.doc.zip.ccv", "x.doc", false},
                      NameCase{"zip_ccv_of_a_gone_source", 3, "y.doc.zip.ccv", nullptr, true},
                      NameCase{"zip_kept", 1, "x.doc.zip", "x.doc", false},
                      NameCase{"ccv_kept", 2, "x.doc.ccv", "x.doc", false},
                      NameCase{"plain_copy_never_matches_a_compressed_name", 0, "x.doc.zip", "x.doc", true},
                      // A plain copy left from before the folder compressed
                      // is compared under its own name, not a cut one.
                      NameCase{"earlier_plain_copy_kept", 3, "notes.txt", "notes.txt", false},
                      NameCase{"short_name", 3, "abc", nullptr, true},
                      NameCase{"leading_dot_never_deleted", 0, ".cache", nullptr, false},
                      NameCase{"leading_dot_compressed", 3, ".x.doc.zip.ccv", nullptr, false}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST_F(MirrorTest, SubfoldersAreWalkedOnlyWithSousRepAndNeverDeleted) {
  MakeFile("Clients/here.txt", "source");
  auto here = Copy("Clients/here.txt", "01/01/2025 00:00:00");
  auto orphan = Copy("Clients/orphan.txt", "01/01/2025 00:00:00");
  auto gone = Copy("Gone/old.txt", "01/01/2025 00:00:00");
  auto top = Copy("top.txt", "01/01/2025 00:00:00");

  Settings().WriteBool("PARAMS", "SousRep", false);
  RunMirror();
  EXPECT_FALSE(fs::exists(top));
  EXPECT_TRUE(fs::exists(orphan));
  EXPECT_TRUE(fs::exists(gone));

  Settings().WriteBool("PARAMS", "SousRep", true);
  auto d = RunMirror();
  EXPECT_TRUE(fs::exists(here));
  EXPECT_FALSE(fs::exists(orphan));
  EXPECT_FALSE(fs::exists(gone)) << "a folder gone from the origin loses its copies";
  EXPECT_TRUE(fs::is_directory(dest / "Gone")) << "but the folder itself stays";
  EXPECT_EQ(d->FichiersMiroir(),
            (std::vector<std::string>{dest.string() + "/Clients/orphan.txt", dest.string() + "/Gone/old.txt"}));
}

TEST_F(MirrorTest, JournalAndCalendarOfAMirror) {
  auto orphan = Copy("orphan.txt", "01/01/2025 00:00:00");
  clock.Set(At("10/06/2026 10:00:00"));
  RunMirror();
  auto j = Journal();
  ASSERT_EQ(j.size(), 7u) << ::testing::PrintToString(j);
  EXPECT_EQ(j[0], catalog.miroir + " 10:00:00");
  EXPECT_EQ(j[1], catalog.debut_cpt_fic);
  EXPECT_EQ(j[2], catalog.fin_cpt_fic);
  EXPECT_EQ(j[3], orphan.string());
  EXPECT_EQ(j[4], "");
  EXPECT_EQ(j[5], catalog.fin_journal + " 10:00:00");
  EXPECT_EQ(j[6], "");
  EXPECT_EQ(Calendar(), (std::vector<std::string>{"Dossier Docs : Début Miroir 10:00:00",
                                                  "Dossier Docs : Fin Miroir   10:00:00", ""}));
  EXPECT_EQ(Settings().ReadString("PARAMS", "Suspension", "0"), "0");
  EXPECT_EQ(Settings().ReadString("PARAMS", "Encours", "unset"), "unset") << "the mirror leaves Encours alone";
}

// An origin folder that exists but cannot be listed (here a link that
// leads to itself) tells nothing about its files: nothing at all is deleted.
TEST_F(MirrorTest, AnOriginFolderThatCannotBeListedDeletesNothing) {
  auto top = Copy("top.txt", "01/01/2025 00:00:00");
  auto below = Copy("Loop/old.txt", "01/01/2025 00:00:00");
  fs::create_symlink("Loop", origin / "Loop");
  auto d = RunMirror();
  EXPECT_TRUE(fs::exists(top));
  EXPECT_TRUE(fs::exists(below));
  EXPECT_TRUE(d->FichiersMiroir().empty());
  EXPECT_EQ(d->CodeErreur(), 3);
  auto j = Journal();
  EXPECT_NE(std::find(j.begin(), j.end(), catalog.erreur_path), j.end()) << ::testing::PrintToString(j);

  // Once the origin folder is gone, not unreadable, its copies are orphans.
  fs::remove(origin / "Loop");
  RunMirror();
  EXPECT_FALSE(fs::exists(top));
  EXPECT_FALSE(fs::exists(below));
}

TEST_F(MirrorTest, ARequestStopsTheListingAtItsFirstLook) {
  std::vector<fs::path> orphans;
  for (int i = 0; i < 4; ++i) orphans.push_back(Copy("o" + std::to_string(i) + ".txt", "01/01/2025 00:00:00"));
  Settings().WriteString("PARAMS", "Suspension", "1");
  auto d = RunMirror();
  EXPECT_TRUE(d->Suspendu());
  EXPECT_LE(d->FichiersMiroir().size(), 1u);
  EXPECT_GE(std::count_if(orphans.begin(), orphans.end(), [](const fs::path& p) { return fs::exists(p); }), 3);
  auto j = Journal();
  EXPECT_EQ(std::find(j.begin(), j.end(), catalog.fin_cpt_fic), j.end()) << "the listing did not end normally";
  ASSERT_GE(j.size(), 4u);
  EXPECT_EQ(j[j.size() - 4], catalog.suspension);
  EXPECT_EQ(Settings().ReadString("PARAMS", "Suspension", ""), "0");
}

struct RefusedCase {
  const char* label;
  std::vector<std::pair<std::string, std::string>> keys;
  int code;
  bool path_lines;  // "ErreurPath" then "ErreurConnectReseau"
};

class MirrorRefused : public MirrorTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(MirrorRefused, DeletesNothingAndStillEndsItsJournalAndCalendar) {
  const RefusedCase& c = GetParam();
  // Every copy is an old orphan (archives included): only the refusal keeps them.
  auto orphan = Copy("orphan.txt", "01/01/2025 00:00:00");
  auto archive = Copy("Docs_2025_01_01_1000.zip", "01/01/2025 10:00:00");
  WriteAll(dir / "afile", "not a folder");
  for (const auto& [k, v] : c.keys) {
    std::string value = v == "<dest>" ? dest.string() : v == "<file>" ? (dir / "afile").string() : v;
    Settings().WriteString("PARAMS", k, value);
  }
  auto d = RunMirror();
  EXPECT_TRUE(fs::exists(orphan));
  EXPECT_TRUE(fs::exists(archive));
  EXPECT_TRUE(d->FichiersMiroir().empty());
  EXPECT_EQ(d->CodeErreur(), c.code);
  auto j = Journal();
  ASSERT_GE(j.size(), 4u);
  EXPECT_EQ(j[0].rfind(catalog.miroir, 0), 0u);
  EXPECT_EQ(std::find(j.begin(), j.end(), catalog.erreur_path) != j.end(), c.path_lines) << ::testing::PrintToString(j);
  EXPECT_EQ(j[j.size() - 2].rfind(catalog.fin_journal, 0), 0u);
  EXPECT_EQ(Calendar().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MirrorRefused,
    ::testing::Values(RefusedCase{"empty_origin", {{"Origine", ""}}, 3, true},
                      RefusedCase{"missing_origin", {{"Origine", "/nonexistent/origin"}}, 3, true},
                      RefusedCase{"origin_is_a_file", {{"Origine", "<file>"}}, 3, true},
                      RefusedCase{"unmounted_network_origin", {{"Origine", "//otherpc/share/docs"}}, 53, false},
                      RefusedCase{"missing_destination", {{"Destination", "/nonexistent/dest"}}, 3, true},
                      // A folder on an FTP server: its text is never taken
                      // for a local folder, even one that exists.
                      RefusedCase{"ftp_destination", {{"TypeDesti", "2"}, {"Destination", "<dest>"}}, 3, true},
                      RefusedCase{"archive_folder", {{"TypeSauve", "4"}}, 0, false},
                      RefusedCase{"encrypted_archive_folder", {{"TypeSauve", "5"}}, 0, false}),
    [](const auto& tp) { return std::string(tp.param.label); });

TEST_F(MirrorTest, RunsInItsWorkerThreadAndLeavesTheBackupsTemporariesToTheirWriters) {
  auto orphan = Copy("orphan.txt", "01/01/2025 00:00:00");
  // A killed copy's temporary (nobody holds it) and a live one.
  WriteAll(dest / ".orphan.txt.corvane-Ab12Cd", "killed");
  MakeFile("src.bin", "live");
  platform::StagedCopy live;
  ASSERT_TRUE(platform::StageCopy(origin / "src.bin", dest / "src.bin", live).ok());
  auto sv = Services();
  sv.clock = &clock;
  auto thread = PrepareRun(sv, {"Docs", ini.string()}, ini, RunKind::Mirror, RunCaller::AgentScheduler, clock.Now());
  ASSERT_NE(dynamic_cast<TMiroir*>(thread.get()), nullptr);
  thread->Execute();
  EXPECT_FALSE(fs::exists(orphan));
  EXPECT_FALSE(fs::exists(dest / ".orphan.txt.corvane-Ab12Cd"));
  ASSERT_TRUE(live.Commit().ok());
  EXPECT_EQ(ReadAll(dest / "src.bin"), "live");
  EXPECT_EQ(Calendar().size(), 3u);
}

}  // namespace
}  // namespace corvane::test
