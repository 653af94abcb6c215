#include "agent/scheduler.h"

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace corvane::test {
namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;
using agent::IsScheduledDay;
using agent::Scheduler;

struct Due {
  int tick;
  RunKind kind;
  bool operator==(const Due&) const = default;
};

struct SchedulerCase {
  const char* name;
  Keys keys;
  std::vector<platform::DateTime> ticks;
  std::vector<Due> due;
  std::string compteur_after;  // "<absent>": never written
};

std::ostream& operator<<(std::ostream& os, const Due& d) {
  return os << "tick " << d.tick << " kind " << static_cast<int>(d.kind);
}

void PrintTo(const SchedulerCase& c, std::ostream* os) { *os << c.name; }

std::vector<platform::DateTime> Minutes(platform::DateTime from, int count) {
  std::vector<platform::DateTime> out;
  for (int i = 0; i < count; ++i) out.push_back(from + std::chrono::minutes(i));
  return out;
}

const platform::DateTime kMonday = Local(2024, 3, 18, 9, 0, 5);

class SchedulerCases : public ::testing::TestWithParam<SchedulerCase> {};

TEST_P(SchedulerCases, StartsWhatFallsDueAndCountsTicks) {
  const SchedulerCase& c = GetParam();
  FolderBench bench;
  const fs::path ini = bench.AddFolder("Docs", c.keys);
  const std::string before = ReadAll(ini);
  platform::FixedClock clock(c.ticks.front());
  RecordingStarter starter;
  Scheduler scheduler(bench.registry, bench.install, clock, starter);
  std::vector<Due> due;
  for (std::size_t t = 0; t < c.ticks.size(); ++t) {
    clock.Set(c.ticks[t]);
    const std::size_t first = starter.calls.size();
    scheduler.SchedulerTick();
    for (std::size_t k = first; k < starter.calls.size(); ++k) {
      EXPECT_EQ(starter.calls[k].folder, "Docs");
      EXPECT_EQ(starter.calls[k].settings, ini);
      EXPECT_EQ(starter.calls[k].caller, RunCaller::AgentScheduler);
      due.push_back({static_cast<int>(t), starter.calls[k].kind});
    }
  }
  EXPECT_EQ(due, c.due);
  EXPECT_EQ(bench.Key(ini, "Compteur"), c.compteur_after);
  if (c.compteur_after == "<absent>") {
    EXPECT_EQ(ReadAll(ini), before) << "nothing may be written";
  }
}

const auto S = RunKind::Save;
const auto M = RunKind::Mirror;
const auto P = RunKind::Purge;

INSTANTIATE_TEST_SUITE_P(
    Table, SchedulerCases,
    ::testing::Values(
        SchedulerCase{"EveryTick", {{"TypeDelai", "0"}, {"DelaiSauve", "1"}}, Minutes(kMonday, 3),
                      {{0, S}, {1, S}, {2, S}}, "1"},
        SchedulerCase{"EveryThirdTick", {{"TypeDelai", "0"}, {"DelaiSauve", "3"}}, Minutes(kMonday, 7),
                      {{2, S}, {5, S}}, "2"},
        SchedulerCase{"DelayZeroNever", {{"TypeDelai", "0"}, {"DelaiSauve", "0"}}, Minutes(kMonday, 3), {},
                      "<absent>"},
        SchedulerCase{"DelayAbsentNever", {{"TypeDelai", "0"}}, Minutes(kMonday, 3), {}, "<absent>"},
        SchedulerCase{"NegativeDelayEveryTick", {{"TypeDelai", "0"}, {"DelaiSauve", "-4"}}, Minutes(kMonday, 2),
                      {{0, S}, {1, S}}, "1"},
        SchedulerCase{"CounterAboveShortenedPeriod",
                      {{"TypeDelai", "0"}, {"DelaiSauve", "3"}, {"Compteur", "12"}},
                      Minutes(kMonday, 4),
                      {{0, S}, {3, S}},
                      "1"},
        SchedulerCase{"OtherScheduleTypeNeverRuns", {{"TypeDelai", "2"}, {"DelaiSauve", "1"}}, Minutes(kMonday, 2),
                      {}, "<absent>"},
        SchedulerCase{"TimeMatchesWithinItsMinute",
                      {{"TypeDelai", "1"}, {"HeureSauve", "14:30:45"}},
                      {Local(2024, 3, 18, 14, 29, 59), Local(2024, 3, 18, 14, 30, 0), Local(2024, 3, 18, 14, 30, 59),
                       Local(2024, 3, 18, 14, 31, 0)},
                      {{1, S}, {2, S}},
                      "<absent>"},
        SchedulerCase{"AbsoluteIgnoresCounter",
                      {{"TypeDelai", "1"}, {"HeureSauve", "09:00"}, {"DelaiSauve", "1"}, {"Compteur", "7"}},
                      {kMonday},
                      {{0, S}},
                      "7"},
        SchedulerCase{"UnreadableTimeIsMidnight",
                      {{"TypeDelai", "1"}, {"HeureSauve", "half past two"}},
                      {Local(2024, 3, 18, 14, 30), Local(2024, 3, 19, 0, 0, 30)},
                      {{1, S}},
                      "<absent>"},
        SchedulerCase{"MondaysOnly",
                      {{"TypeDelai", "1"}, {"HeureSauve", "09:00:00"}, {"JourSauve", "1"}},
                      {Local(2024, 3, 17, 9), Local(2024, 3, 18, 9), Local(2024, 3, 19, 9), Local(2024, 3, 25, 9)},
                      {{1, S}, {3, S}},
                      "<absent>"},
        SchedulerCase{"RunThenMirrorInTheSameMinute",
                      {{"TypeDelai", "1"}, {"HeureSauve", "09:00"}, {"Miroir", "1"}, {"HeureMiroir", "09:00:40"}},
                      {kMonday, kMonday + std::chrono::minutes(1)},
                      {{0, S}, {0, M}},
                      "<absent>"},
        SchedulerCase{"MirrorWithoutSchedule",
                      {{"Miroir", "1"}, {"HeureMiroir", "09:01"}},
                      Minutes(kMonday, 3),
                      {{1, M}},
                      "<absent>"},
        SchedulerCase{"BackupFolderNeverPurged",
                      {{"TypeSauve", "3"}, {"NbJoursValideZip", "5"}, {"EffaceArchive", "09:00"}},
                      {kMonday},
                      {},
                      "<absent>"},
        SchedulerCase{"ArchiveFolderPurged",
                      {{"TypeSauve", "4"}, {"NbJoursValideZip", "5"}, {"EffaceArchive", "09:00"}},
                      {kMonday, kMonday + std::chrono::minutes(1)},
                      {{0, P}},
                      "<absent>"},
        SchedulerCase{"ArchiveWithoutValidityNeverPurged",
                      {{"TypeSauve", "5"}, {"NbJoursValideZip", "0"}, {"EffaceArchive", "09:00"}},
                      {kMonday},
                      {},
                      "<absent>"},
        SchedulerCase{"RunMirrorAndPurgeInOrder",
                      {{"TypeSauve", "4"}, {"TypeDelai", "0"}, {"DelaiSauve", "1"}, {"Miroir", "1"},
                       {"HeureMiroir", "09:00"}, {"NbJoursValideZip", "2"}, {"EffaceArchive", "09:00"}},
                      {kMonday},
                      {{0, S}, {0, M}, {0, P}},
                      "1"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

struct DayCase {
  std::int64_t rule;
  platform::DateTime date;
  bool expected;
};

TEST(IsScheduledDay, FollowsTheDayRule) {
  const DayCase cases[] = {
      {0, Local(2024, 3, 17), true},   {1, Local(2024, 3, 18), true},  {1, Local(2024, 3, 19), false},
      {7, Local(2024, 3, 24), true},   {7, Local(2024, 3, 18), false}, {4, Local(2024, 2, 29), true},
      {8, Local(2024, 3, 1), true},    {8, Local(2024, 3, 2), false},  {36, Local(2024, 2, 29), true},
      {36, Local(2023, 3, 29), true},  {38, Local(2024, 1, 31), true}, {38, Local(2024, 4, 30), false},
      {39, Local(2024, 1, 31), false}, {-1, Local(2024, 3, 18), false},
  };
  for (const DayCase& c : cases) {
    EXPECT_EQ(IsScheduledDay(c.rule, c.date), c.expected)
        << "rule " << c.rule << " on " << platform::FormatDate(c.date);
  }
}

// Over two whole years: the 29th never comes in February 2023, and rule 38
// holds only in the seven months of 31 days.
TEST(IsScheduledDay, MonthDayRulesOverWholeYears) {
  int february_29ths_2023 = 0;
  std::set<int> months_with_31st;
  int mondays_2024 = 0;
  for (int y : {2023, 2024}) {
    for (int day = 0; day < 366; ++day) {
      const platform::DateTime d = Local(y, 1, 1 + day, 12);
      const std::string text = platform::FormatDate(d);
      if (text.substr(6) != std::to_string(y)) break;
      const int month = std::stoi(text.substr(3, 2));
      if (y == 2023 && month == 2 && IsScheduledDay(36, d)) ++february_29ths_2023;
      if (y == 2023 && IsScheduledDay(38, d)) months_with_31st.insert(month);
      if (y == 2024 && IsScheduledDay(1, d)) ++mondays_2024;
    }
  }
  EXPECT_EQ(february_29ths_2023, 0);
  EXPECT_EQ(months_with_31st, (std::set<int>{1, 3, 5, 7, 8, 10, 12}));
  EXPECT_EQ(mondays_2024, 53);  // 2024 began on a Monday and is a leap year
}

class SchedulerFolders : public ::testing::Test {
 protected:
  FolderBench bench;
  platform::FixedClock clock{kMonday};
  RecordingStarter starter;
  Scheduler scheduler{bench.registry, bench.install, clock, starter};

  std::vector<std::string> StartedFolders() const {
    std::vector<std::string> out;
    for (const auto& c : starter.calls) out.push_back(c.folder);
    return out;
  }
};

TEST_F(SchedulerFolders, OneFailingFolderLeavesTheOthersScheduled) {
  const Keys every_tick = {{"TypeDelai", "0"}, {"DelaiSauve", "1"}};
  bench.AddFolder("A", every_tick);
  const fs::path broken = bench.AddFolder("Broken", every_tick);
  bench.AddFolder("C", every_tick);
  starter.throw_for = "Broken";
  scheduler.SchedulerTick();
  scheduler.SchedulerTick();
  EXPECT_EQ(StartedFolders(), (std::vector<std::string>{"A", "Broken", "C", "A", "Broken", "C"}));
  // The counter is reset also when the run could not start.
  EXPECT_EQ(bench.Key(broken, "Compteur"), "1");
}

TEST_F(SchedulerFolders, FoldersWithoutASettingsFileAreNeitherRunNorCreated) {
  const fs::path missing = bench.dir / "missing.ini";
  FolderRegister(bench.registry).Write("Missing", missing);
  bench.registry.WriteText(platform::RegRoot::CurrentUser, kRegisterKey, "Quote", "\"");
  bench.registry.WriteText(platform::RegRoot::CurrentUser, kRegisterKey, "Relative", "relative/Docs.ini");
  bench.registry.WriteText(platform::RegRoot::CurrentUser, kRegisterKey, "Empty", "");
  scheduler.SchedulerTick();
  EXPECT_TRUE(starter.calls.empty());
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(scheduler.ListFolders(), 3);
}

TEST_F(SchedulerFolders, FolderNamedAfterItselfIsReadFromTheInstallation) {
  FolderSettings(bench.install / "Self.ini").WriteString(kSectionParams, "TypeDelai", "0");
  FolderSettings(bench.install / "Self.ini").WriteString(kSectionParams, "DelaiSauve", "1");
  bench.registry.WriteText(platform::RegRoot::CurrentUser, kRegisterKey, "Self", "Self");
  scheduler.SchedulerTick();
  ASSERT_EQ(starter.calls.size(), 1u);
  EXPECT_EQ(starter.calls[0].settings, bench.install / "Self.ini");
}

TEST_F(SchedulerFolders, RegisterChangesShowAtTheNextTick) {
  const Keys every_tick = {{"TypeDelai", "0"}, {"DelaiSauve", "1"}};
  EXPECT_EQ(scheduler.ListFolders(), -1);
  scheduler.SchedulerTick();
  bench.AddFolder("New", every_tick);
  scheduler.SchedulerTick();
  FolderRegister(bench.registry).Delete("New");
  bench.AddFolder("Other", every_tick);
  scheduler.SchedulerTick();
  EXPECT_EQ(StartedFolders(), (std::vector<std::string>{"New", "Other"}));
  // Sub-keys of the register are not folders.
  bench.registry.WriteText(platform::RegRoot::CurrentUser, "Software\\Corvane3\\inc", "DelaiCal", "3");
  EXPECT_EQ(scheduler.ListFolders(), 0);
}

TEST_F(SchedulerFolders, MoreFoldersThanTheOldTableHeldAreAllScheduled) {
  constexpr int kFolders = 1002;
  const fs::path ini = bench.dir / "shared.ini";
  FolderSettings(ini).WriteString(kSectionParams, "Miroir", "1");
  FolderSettings(ini).WriteString(kSectionParams, "HeureMiroir", "09:00");
  for (int i = 0; i < kFolders; ++i) FolderRegister(bench.registry).Write("F" + std::to_string(i), ini);
  EXPECT_EQ(scheduler.ListFolders(), kFolders - 1);
  scheduler.SchedulerTick();
  ASSERT_EQ(starter.calls.size(), static_cast<std::size_t>(kFolders));
  EXPECT_EQ(starter.calls.back().folder, "F" + std::to_string(kFolders - 1));
}

}  // namespace
}  // namespace corvane::test
