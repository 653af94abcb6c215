#include "agent/agent.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>

#include <QAbstractButton>
#include <QTest>

#include "agent_fixture.h"
#include "engine/engine_fixture.h"
#include "platform/desktop_integration.h"
#include "support/registry_helpers.h"
#include "util/process.h"

namespace corvane::test {
namespace {

using agent::Agent;
using agent::AgentSetup;
using platform::RegRoot;

class AgentStartup : public ::testing::Test {
 protected:
  FolderBench bench;
  fs::path logs = bench.dir / "logs";
  platform::FixedClock clock{Local(2024, 3, 18, 9, 0, 5)};
  RecordingStarter starter;
  FakeAgentPlatform platform{bench.dir / "agent.sock"};
  std::ostringstream err;
  agent::ModalRunner runner{false, err};

  void SetUp() override {
    fs::copy_file(fs::path(CORVANE_SOURCE_DIR) / "lang" / "Français.lge", bench.install / "Français.lge");
    fs::copy_file(fs::path(CORVANE_SOURCE_DIR) / "lang" / "English.lge", bench.install / "English.lge");
  }

  AgentSetup MakeSetup() {
    AgentSetup s;
    s.registry = &bench.registry;
    s.paths.install_dir = bench.install;
    s.paths.logs_dir = logs;
    s.paths.config_dir = bench.dir / "config";
    s.paths.executable = bench.install / "corvane-agent";
    s.clock = &clock;
    s.platform = &platform;
    s.runner = &runner;
    s.starter = &starter;
    s.locale_language_name = "Français (France)";
    s.tick_ms = 100;
    s.err = &err;
    return s;
  }

  std::string Text(RegRoot root, std::string_view key, std::string_view name = "") {
    return RegReadString(bench.registry, root, key, name);
  }
};

TEST_F(AgentStartup, ClearsMarksArmsTheTimerAndRegistersItself) {
  const fs::path ini = bench.AddFolder("Docs", {{"Encours", "1"}, {"TypeDelai", "0"}, {"DelaiSauve", "1"}});
  const fs::path missing = bench.dir / "Missing.ini";
  FolderRegister(bench.registry).Write("Missing", missing);
  Agent agent(MakeSetup());
  ASSERT_TRUE(agent.Start());
  EXPECT_EQ(bench.Key(ini, "Encours"), "0");
  EXPECT_FALSE(fs::exists(missing));
  ASSERT_NE(agent.Window(), nullptr);
  EXPECT_TRUE(agent.Window()->Timer().isActive());
  EXPECT_EQ(agent.Window()->Timer().interval(), 100);
  ASSERT_NE(agent.Window()->TrayIcon(), nullptr);
  EXPECT_EQ(agent.Window()->TrayIcon()->toolTip().toStdString(), TipText(agent.Catalog().veille));
  EXPECT_TRUE(fs::is_directory(logs));
  EXPECT_EQ(Text(RegRoot::CurrentUser, platform::DesktopIntegration::kRunKey, "Corvane_3"),
            (bench.install / "corvane-agent").string());
  EXPECT_EQ(Text(RegRoot::ClassesRoot, ".jcv"), "jcv_file");
  EXPECT_EQ(Text(RegRoot::ClassesRoot, ".cal"), "cal_file");
  EXPECT_EQ(Text(RegRoot::ClassesRoot, ".ccv"), "ccv_file");
  EXPECT_FALSE(Text(RegRoot::ClassesRoot, "jcv_file\\shell\\open\\command").empty());
  EXPECT_FALSE(Text(RegRoot::ClassesRoot, "cal_file\\shell\\open\\command").empty());
  EXPECT_TRUE(Text(RegRoot::ClassesRoot, "ccv_file\\shell\\open\\command").empty());
  EXPECT_EQ(Text(RegRoot::ClassesRoot, "ccv_file\\DefaultIcon"), (bench.install / "corvane-manager").string() + ",1");
  EXPECT_TRUE(err.str().empty()) << err.str();

  // The armed timer drives the scheduler.
  for (int i = 0; i < 300 && starter.calls.empty(); ++i) QTest::qWait(10);
  ASSERT_FALSE(starter.calls.empty());
  EXPECT_EQ(starter.calls[0].folder, "Docs");
}

TEST_F(AgentStartup, SecondInstanceShowsMutexAndLeavesTheFirstOnesRunsAlone) {
  const fs::path ini = bench.AddFolder("Docs", {{"Encours", "1"}});
  platform.instance_free = false;
  std::vector<std::string> shown;
  runner.QueueAnswer([&](QDialog& d) {
    auto* box = qobject_cast<QMessageBox*>(&d);
    ASSERT_NE(box, nullptr);
    shown.push_back(box->windowTitle().toStdString());
    shown.push_back(box->text().toStdString());
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    box->button(QMessageBox::Ok)->click();
  });
  Agent agent(MakeSetup());
  EXPECT_FALSE(agent.Start());
  EXPECT_EQ(shown, (std::vector<std::string>{"Corvane 3", agent.Catalog().mutex}));
  EXPECT_FALSE(agent.Catalog().mutex.empty());
  EXPECT_EQ(agent.Window(), nullptr) << "no window, timer or icon for a second agent";
  EXPECT_EQ(bench.Key(ini, "Encours"), "1");
  EXPECT_EQ(Text(RegRoot::CurrentUser, platform::DesktopIntegration::kRunKey, "Corvane_3"), "");
}

TEST_F(AgentStartup, NoSocketMeansErreurSysAndNoTimer) {
  FakeAgentPlatform unusable(bench.dir / "no such folder" / "agent.sock");
  AgentSetup s = MakeSetup();
  s.platform = &unusable;
  std::string text;
  runner.QueueAnswer([&](QDialog& d) {
    text = static_cast<QMessageBox&>(d).text().toStdString();
    d.reject();
  });
  Agent agent(s);
  EXPECT_FALSE(agent.Start());
  EXPECT_EQ(text, agent.Catalog().erreur_sys);
  EXPECT_EQ(agent.Window(), nullptr);
}

TEST_F(AgentStartup, WithoutANotificationAreaItSaysSoOnceAndStillSchedules) {
  bench.AddFolder("Docs", {{"TypeDelai", "0"}, {"DelaiSauve", "1"}});
  struct Case {
    bool display;
    bool notification_area;
    bool icon_made;
    bool says;
  };
  for (const Case c : {Case{false, false, false, true}, Case{true, false, true, true}, Case{true, true, true, false}}) {
    SCOPED_TRACE(testing::Message() << "display " << c.display << ", notification area " << c.notification_area);
    err.str("");
    starter.calls.clear();
    AgentSetup s = MakeSetup();
    s.with_icon = c.display;
    s.notification_area = c.notification_area;
    Agent agent(s);
    ASSERT_TRUE(agent.Start());
    EXPECT_EQ(agent.Window()->TrayIcon() != nullptr, c.icon_made);
    for (int i = 0; i < 300 && starter.calls.size() < 2; ++i) QTest::qWait(10);
    EXPECT_GE(starter.calls.size(), 2u) << "the scheduler runs in every case";
    const std::string said = err.str();
    EXPECT_EQ(said.find("without an icon") != std::string::npos, c.says) << said;
    EXPECT_EQ(said.find("without an icon"), said.rfind("without an icon")) << "said once";
  }
}

TEST_F(AgentStartup, LanguageFromTheConsoleElseFromTheLocale) {
  {
    AgentSetup s = MakeSetup();
    s.locale_language_name = "English (United States)";
    Agent agent(s);
    ASSERT_TRUE(agent.Start());
    EXPECT_EQ(agent.Language(), "English ");
    EXPECT_EQ(agent.Window()->TrayIcon()->toolTip().toStdString(), TipText(agent.Catalog().veille));
  }
  bench.registry.WriteText(RegRoot::CurrentUser, "Software\\Corvane3\\inc", "localisation", "English");
  AgentSetup s = MakeSetup();
  Agent agent(s);
  ASSERT_TRUE(agent.Start());
  EXPECT_EQ(agent.Language(), "English");
  EXPECT_NE(agent.Catalog().file.filename().string().find("English"), std::string::npos);
}

// A damaged stored password still lets the agent start, but never lets the
// menu quit as if there were none.
TEST_F(AgentStartup, UnreadableStoredPasswordRefusesTheMenuQuit) {
  bench.registry.WriteText(RegRoot::CurrentUser, "Software\\Corvane3\\inc", "Password", "abc");
  Agent agent(MakeSetup());
  ASSERT_TRUE(agent.Start());
  std::vector<std::string> texts;
  auto ok = [&](QDialog& d) {
    auto* box = qobject_cast<QMessageBox*>(&d);
    ASSERT_NE(box, nullptr);
    texts.push_back(box->text().toStdString());
    box->button(QMessageBox::Ok)->click();
  };
  runner.QueueAnswer(ok);
  runner.QueueAnswer(ok);
  agent.Window()->QuitAgent();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], agent.Catalog().erreur_pass);
  EXPECT_FALSE(agent.Window()->QuitRequested());
  EXPECT_NE(agent.Window()->TrayIcon(), nullptr);
}

TEST(PurgeOldLogs, DeletesByAgeFromTodaysMidnight) {
  TempDir dir;
  const platform::DateTime now = Local(2024, 3, 18, 15, 20);
  const platform::DateTime midnight = Local(2024, 3, 18);
  struct File {
    const char* name;
    platform::DateTime written;
    bool stays;
  };
  using std::chrono::hours;
  const File files[] = {
      {"2024_03_07 .cal", midnight - hours(24 * 11), false},
      {"2024_03_08 .cal", midnight - hours(24 * 10), true},  // exactly 10 days: not older
      {"2024_03_08b .CAL", midnight - hours(24 * 10 + 1), false},
      {"2024_03_10 Docs.jcv", midnight - hours(24 * 7 + 1), false},
      {"2024_03_11 Docs.jcv", midnight - hours(24 * 7), true},
      {"2024_01_01 notes.txt", midnight - hours(24 * 100), true},
      {"today .cal", now, true},
  };
  for (const File& f : files) {
    WriteAll(dir / f.name, "x");
    SetMtime(dir / f.name, f.written);
  }
  fs::create_directories(dir / "old.jcv");
  SetMtime(dir / "old.jcv", midnight - hours(24 * 100));
  agent::PurgeOldLogs(dir.path(), now, agent::kDefaultDelaiCal, agent::kDefaultDelaiJcv);
  for (const File& f : files) EXPECT_EQ(fs::exists(dir / f.name), f.stays) << f.name;
  EXPECT_TRUE(fs::exists(dir / "old.jcv")) << "folders are not log files";
  agent::PurgeOldLogs(dir / "missing", now, 0, 0);  // nothing to do, no error
}

TEST_F(AgentStartup, PurgeUsesTheStoredAges) {
  fs::create_directories(logs);
  WriteAll(logs / "a .cal", "x");
  WriteAll(logs / "a Docs.jcv", "x");
  SetMtime(logs / "a .cal", Local(2024, 3, 15, 12));
  SetMtime(logs / "a Docs.jcv", Local(2024, 3, 15, 12));
  bench.registry.WriteInteger(RegRoot::CurrentUser, "Software\\Corvane3\\inc", "DelaiCal", 2);
  bench.registry.WriteInteger(RegRoot::CurrentUser, "Software\\Corvane3\\inc", "DelaiJcv", 3);
  Agent agent(MakeSetup());
  ASSERT_TRUE(agent.Start());
  EXPECT_FALSE(fs::exists(logs / "a .cal"));    // 2.5 days > 2
  EXPECT_TRUE(fs::exists(logs / "a Docs.jcv"));  // 2.5 days <= 3
}

// The real lock: another holder turns us away, and its death frees it.
TEST(SingleInstanceLock, HeldUntilTheHolderDies) {
  TempDir dir;
  const fs::path run = dir / "run";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const int pid = ForkChild([&] {
    agent::LinuxAgentPlatform holder(run);
    const char ok = holder.AcquireSingleInstance() ? '1' : '0';
    if (::write(ready[1], &ok, 1) != 1) return 2;
    for (;;) ::pause();
  });
  char got = 0;
  ASSERT_EQ(::read(ready[0], &got, 1), 1);
  ASSERT_EQ(got, '1');
  {
    agent::LinuxAgentPlatform second(run);
    EXPECT_FALSE(second.AcquireSingleInstance());
  }
  ::kill(pid, SIGKILL);
  EXPECT_EQ(WaitChild(pid), -SIGKILL);
  agent::LinuxAgentPlatform third(run);
  EXPECT_TRUE(third.AcquireSingleInstance());
  EXPECT_TRUE(third.AcquireSingleInstance()) << "taking it again in the holder is no conflict";
  agent::LinuxAgentPlatform fourth(run);
  EXPECT_FALSE(fourth.AcquireSingleInstance()) << "one process, two agents: still one";
  EXPECT_EQ(fs::status(run).permissions() & fs::perms::all, fs::perms::owner_all);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace corvane::test
