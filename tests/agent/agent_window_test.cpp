#include "agent/agent_window.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocalSocket>
#include <QPushButton>
#include <QAbstractButton>
#include <QTest>

#include "agent/agent_icons.h"
#include "agent_fixture.h"
#include "engine/journal.h"
#include "support/language.h"
#include "support/stored_secret.h"

namespace corvane::test {
namespace {

using agent::ModalRunner;
using agent::QuitPassword;
using agent::TAgentWindow;

// What a message box showed.
struct Shown {
  std::string caption;
  std::string text;
  QMessageBox::Icon icon;
};

// Answers the next message box by clicking one of its buttons.
ModalRunner::Answer Click(QMessageBox::StandardButton button, std::vector<Shown>* log) {
  return [button, log](QDialog& d) {
    auto* box = qobject_cast<QMessageBox*>(&d);
    ASSERT_NE(box, nullptr) << "expected a message box, got " << d.objectName().toStdString();
    log->push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon()});
    ASSERT_NE(box->button(button), nullptr);
    QTest::mouseClick(box->button(button), Qt::LeftButton);
  };
}

// Types as a keyboard would, one key event per character (any script).
void TypeInto(QWidget* w, const QString& text) {
  for (QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(w, &release);
  }
}

// Answers the password dialog by typing and pressing one of its buttons.
ModalRunner::Answer Type(QString typed, const char* button, int* shown) {
  return [typed, button, shown](QDialog& d) {
    ASSERT_EQ(d.objectName(), QStringLiteral("DIALOG_PASSWORD_FR"));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Corvane2 : mot de passe"));
    ++*shown;
    auto* edit = d.findChild<QLineEdit*>(QStringLiteral("EditPassword"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    TypeInto(edit, typed);
    auto* b = d.findChild<QPushButton*>(QString::fromLatin1(button));
    ASSERT_NE(b, nullptr);
    QTest::mouseClick(b, Qt::LeftButton);
  };
}

class AgentWindowTest : public ::testing::Test {
 protected:
  FolderBench bench;
  fs::path logs = bench.dir / "logs";
  platform::FixedClock clock{Local(2024, 3, 18, 9, 0, 5)};
  RecordingStarter starter;
  agent::Scheduler scheduler{bench.registry, bench.install, clock, starter};
  FakeAgentPlatform platform{bench.dir / "agent.sock"};
  std::ostringstream err;
  ModalRunner runner{false, err};
  MessageCatalog catalog;
  std::unique_ptr<TAgentWindow> window;
  std::vector<Shown> boxes;

  void SetUp() override {
    fs::create_directories(logs);
    fs::copy_file(fs::path(CORVANE_SOURCE_DIR) / "lang" / "Français.lge", bench.install / "Français.lge");
    catalog = LoadMessageCatalog(bench.install, "Français (France)", bench.registry);
    ASSERT_FALSE(catalog.veille.empty());
  }
  void TearDown() override { EXPECT_FALSE(runner.HasQueuedAnswer()) << "a dialog expected was never shown"; }

  void Make(QuitPassword password = {}) {
    agent::AgentContext ctx;
    ctx.registry = &bench.registry;
    ctx.paths.install_dir = bench.install;
    ctx.paths.logs_dir = logs;
    ctx.paths.executable = bench.dir / "bin" / "corvane-agent";
    ctx.clock = &clock;
    ctx.catalog = &catalog;
    ctx.language = "Français";
    ctx.platform = &platform;
    ctx.runner = &runner;
    window = std::make_unique<TAgentWindow>(ctx, std::move(password));
    window->SetScheduler(&scheduler);
    window->AddIcon();
  }

  // The menu from top to bottom: "-" for a separator, "text #id" for an
  // item, "text > [...]" for a submenu.
  static std::vector<std::string> Describe(const QMenu& menu) {
    std::vector<std::string> out;
    for (QAction* a : menu.actions()) {
      if (a->isSeparator()) {
        out.push_back("-");
      } else if (a->menu()) {
        std::string sub = a->text().toStdString() + " > [";
        for (const std::string& s : Describe(*a->menu())) sub += s + "; ";
        out.push_back(sub + "]");
      } else {
        out.push_back(a->text().toStdString() + " #" + std::to_string(a->data().toInt()));
      }
    }
    return out;
  }

  // Chooses a menu item as a user would; the command runs from the event loop.
  void Trigger(int id) {
    QAction* a = Command(id);
    ASSERT_NE(a, nullptr) << "no menu item " << id;
    a->trigger();
    QCoreApplication::processEvents();
  }

  QAction* Command(int id) {
    for (QAction* a : window->Menu()->findChildren<QAction*>()) {
      if (a->objectName() == QStringLiteral("Command_%1").arg(id)) return a;
    }
    return nullptr;
  }
};

TEST_F(AgentWindowTest, MenuListsFoldersLastFirstAboveTheFixedCommands) {
  bench.AddFolder("A", {{"TypeDelai", "0"}});
  bench.AddFolder("B & co", {{"TypeDelai", "0"}});
  bench.AddFolder("C", {{"TypeDelai", "0"}});
  Make();
  const std::string J = catalog.journal, I = catalog.sauve_imm, D = catalog.dossier;
  EXPECT_EQ(Describe(*window->Menu()),
            (std::vector<std::string>{
                D + " C > [" + J + " #120; " + I + " #118; ]",
                D + " B && co > [" + J + " #117; " + I + " #115; ]",
                D + " A > [" + J + " #114; " + I + " #112; ]",
                "-",
                catalog.stop_sauve + " #109",
                "-",
                catalog.show + " #101",
                catalog.aide + " #103",
                "-",
                catalog.stop + " #102",
                catalog.esc + " #0",
                "-",
            }));
  // Built anew at each opening: a folder removed in the console is gone.
  FolderRegister(bench.registry).Delete("A");
  emit window->Menu()->aboutToShow();
  EXPECT_EQ(Describe(*window->Menu()).size(), 11u);
  EXPECT_EQ(Describe(*window->Menu()).front(), D + " C > [" + J + " #117; " + I + " #115; ]");
  EXPECT_EQ(window->Menu()->findChildren<QMenu*>().size(), 2) << "the previous submenus are gone";
}

TEST_F(AgentWindowTest, ImmediateRunUsesTheMenuDefaultsAndLeavesTheCounter) {
  bench.AddFolder("A", {{"TypeDelai", "0"}, {"DelaiSauve", "5"}, {"Compteur", "3"}});
  const fs::path b = bench.AddFolder("B", {{"TypeDelai", "0"}, {"DelaiSauve", "5"}, {"Compteur", "3"}});
  FolderSettings(bench.install / "Self.ini").WriteString(kSectionParams, "TypeSauve", "0");
  bench.registry.WriteText(platform::RegRoot::CurrentUser, kRegisterKey, "Self", "Self");
  Make();
  Trigger(112 + 3);
  Trigger(112 + 6);
  ASSERT_EQ(starter.calls.size(), 2u);
  EXPECT_EQ(starter.calls[0], (StartCall{"B", b, RunKind::Save, RunCaller::AgentTray}));
  EXPECT_EQ(starter.calls[1], (StartCall{"Self", bench.install / "Self.ini", RunKind::Save, RunCaller::AgentTray}));
  EXPECT_EQ(bench.Key(b, "Compteur"), "3");
  // The unused identifier of each folder, a folder gone since the menu was
  // built and one whose settings file is missing do nothing.
  const fs::path gone = bench.dir / "Gone.ini";
  FolderRegister(bench.registry).Write("Gone", gone);
  emit window->Menu()->aboutToShow();
  window->OnCommand(113 + 3);
  window->OnCommand(112 + 3 * 40);
  Trigger(112 + 3 * 3);
  EXPECT_EQ(starter.calls.size(), 2u);
  EXPECT_FALSE(fs::exists(gone));
}

TEST_F(AgentWindowTest, JournalCommandLooksForTheFileOfTheDayItRunsIn) {
  bench.AddFolder("Docs", {{"TypeDelai", "0"}});
  Make();
  // Yesterday's journal only: just after midnight it is not today's.
  WriteAll(JournalPath(logs, "2024_03_18", "Docs"), "old\r\n");
  clock.Set(Local(2024, 3, 19, 0, 0, 30));
  runner.QueueAnswer(Click(QMessageBox::Ok, &boxes));
  Trigger(114);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, catalog.no_journal);
  EXPECT_EQ(boxes[0].caption, "Corvane 3");
  EXPECT_EQ(boxes[0].icon, QMessageBox::NoIcon);
  EXPECT_TRUE(platform.opened.empty());

  const fs::path today = JournalPath(logs, "2024_03_19", "Docs");
  WriteAll(today, "new\r\n");
  Trigger(114);
  EXPECT_EQ(platform.opened, std::vector<fs::path>{today});
  EXPECT_EQ(boxes.size(), 1u);
}

struct QuitCase {
  const char* name;
  QuitPassword password;
  QMessageBox::StandardButton confirm;
  const char* typed;   // null: no password dialog expected
  const char* button;  // "ButtonOK" or "ButtonAnnuler"
  bool quits;
  bool wrong_password_box;
};

void PrintTo(const QuitCase& c, std::ostream* os) { *os << c.name; }

class QuitAgentCases : public AgentWindowTest, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitAgentCases, AsksThenChecksThePassword) {
  const QuitCase& c = GetParam();
  Make(c.password);
  bool signalled = false;
  QObject::connect(window.get(), &TAgentWindow::quitRequested, [&] { signalled = true; });
  int dialogs = 0;
  runner.QueueAnswer(Click(c.confirm, &boxes));
  if (c.typed) runner.QueueAnswer(Type(QString::fromUtf8(c.typed), c.button, &dialogs));
  if (c.wrong_password_box) runner.QueueAnswer(Click(QMessageBox::Ok, &boxes));
  Trigger(agent::kCmdStop);

  ASSERT_GE(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Corvane_3");
  EXPECT_EQ(boxes[0].text, ReadMessage(bench.install, "ConfirmArret", "Français"));
  EXPECT_FALSE(boxes[0].text.empty());
  EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
  EXPECT_EQ(dialogs, c.typed ? 1 : 0);
  ASSERT_EQ(boxes.size(), c.wrong_password_box ? 2u : 1u);
  if (c.wrong_password_box) {
    EXPECT_EQ(boxes[1].text, catalog.erreur_pass);
    EXPECT_EQ(boxes[1].caption, "Corvane_3");
    EXPECT_EQ(boxes[1].icon, QMessageBox::Critical);
  }
  EXPECT_EQ(signalled, c.quits);
  EXPECT_EQ(window->QuitRequested(), c.quits);
  EXPECT_EQ(window->TrayIcon() == nullptr, c.quits) << "the icon goes exactly when the agent quits";
  EXPECT_EQ(window->Timer().isActive(), false);  // never started in this fixture
}

const QuitPassword kNone{};
const QuitPassword kSecret{QuitPassword::State::Set, "s3cr\xc3\xa9t"};
const QuitPassword k24{QuitPassword::State::Set, "abcdefghijklmnopqrstuvwx"};
const QuitPassword k30{QuitPassword::State::Set, "abcdefghijklmnopqrstuvwxyz0123"};
const QuitPassword kUnreadable{QuitPassword::State::Unreadable, ""};

INSTANTIATE_TEST_SUITE_P(
    Table, QuitAgentCases,
    ::testing::Values(
        QuitCase{"NoPasswordConfirmed", kNone, QMessageBox::Ok, nullptr, nullptr, true, false},
        QuitCase{"NoPasswordCancelled", kNone, QMessageBox::Cancel, nullptr, nullptr, false, false},
        QuitCase{"RightPassword", kSecret, QMessageBox::Ok, "s3cr\xc3\xa9t", "ButtonOK", true, false},
        QuitCase{"LetterCaseCounts", kSecret, QMessageBox::Ok, "S3cr\xc3\xa9t", "ButtonOK", false, true},
        QuitCase{"EmptyIsWrong", kSecret, QMessageBox::Ok, "", "ButtonOK", false, true},
        QuitCase{"DialogCancelled", kSecret, QMessageBox::Ok, "s3cr\xc3\xa9t", "ButtonAnnuler", false, false},
        QuitCase{"ConfirmationCancelled", kSecret, QMessageBox::Cancel, nullptr, nullptr, false, false},
        QuitCase{"TypingStopsAt24", k24, QMessageBox::Ok, "abcdefghijklmnopqrstuvwxyz", "ButtonOK", true, false},
        QuitCase{"LongerPasswordCanBeTyped", k30, QMessageBox::Ok, "abcdefghijklmnopqrstuvwxyz0123", "ButtonOK", true,
                 false},
        QuitCase{"LongerPasswordCut", k30, QMessageBox::Ok, "abcdefghijklmnopqrstuvwx", "ButtonOK", false, true},
        QuitCase{"UnreadablePasswordRefuses", kUnreadable, QMessageBox::Ok, nullptr, nullptr, false, true}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ReadQuitPassword, DecipheredOrRefusedNeverTakenAsNone) {
  struct Case {
    const char* stored;  // null: no value
    QuitPassword::State state;
    std::string text;
  };
  const std::string pw = EncryptSetting("top secret");
  const std::string quote = EncryptSetting("\"");
  const std::string apostrophe = EncryptSetting("'");
  const Case cases[] = {
      {nullptr, QuitPassword::State::None, ""},
      {"", QuitPassword::State::None, ""},
      {pw.c_str(), QuitPassword::State::Set, "top secret"},
      {quote.c_str(), QuitPassword::State::None, ""},
      {apostrophe.c_str(), QuitPassword::State::None, ""},
      {"abc", QuitPassword::State::Unreadable, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    platform::Registry registry(dir / "registry.ini");
    if (c.stored) registry.WriteText(platform::RegRoot::CurrentUser, "Software\\Corvane3\\inc", "Password", c.stored);
    const QuitPassword q = agent::ReadQuitPassword(registry);
    EXPECT_EQ(q.state, c.state) << (c.stored ? c.stored : "(none)");
    EXPECT_EQ(q.text, c.text) << (c.stored ? c.stored : "(none)");
  }
}

TEST_F(AgentWindowTest, SuspendAsksOnlyRunningFoldersToStop) {
  const fs::path running = bench.AddFolder("Running", {{"Encours", "1"}});
  const fs::path idle = bench.AddFolder("Idle", {{"Encours", "0"}});
  const fs::path missing = bench.dir / "Missing.ini";
  FolderRegister(bench.registry).Write("Missing", missing);
  Make();
  Trigger(agent::kCmdStopSauve);
  EXPECT_EQ(bench.Key(running, "Suspension"), "1");
  EXPECT_EQ(bench.Key(idle, "Suspension"), "<absent>");
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(AgentWindowTest, ConsoleBesideTheAgentAndHelpFromTheInstallation) {
  Make();
  emit window->TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
  emit window->TrayIcon()->activated(QSystemTrayIcon::DoubleClick);
  emit window->TrayIcon()->activated(QSystemTrayIcon::Trigger);
  Trigger(agent::kCmdShow);
  EXPECT_EQ(platform.started, std::vector<fs::path>(3, bench.dir / "bin" / "corvane-admin"));
  Trigger(agent::kCmdAide);
  EXPECT_TRUE(platform.opened.empty()) << "no help file: nothing to open";
  WriteAll(bench.install / "corvane3pro.hlp", "help");
  Trigger(agent::kCmdAide);
  Trigger(agent::kCmdEsc);
  EXPECT_EQ(platform.opened, std::vector<fs::path>{bench.install / "corvane3pro.hlp"});
  EXPECT_FALSE(window->QuitRequested());
}

TEST_F(AgentWindowTest, StatusFromAWorkerThreadReachesTheIconOnItsOwnThread) {
  Make();
  EXPECT_EQ(window->TrayIcon()->property("iconName").toString(), QStringLiteral("Corv_1"));
  EXPECT_EQ(window->TrayIcon()->toolTip().toStdString(), TipText(catalog.veille));
  EXPECT_EQ(TipText(catalog.veille).rfind("Corvane 3 : ", 0), 0u);
  std::thread worker([&] { window->AfficheEtat("Corv_3", "Corvane 3 : scan"); });
  worker.join();
  EXPECT_EQ(window->TrayIcon()->property("iconName").toString(), QStringLiteral("Corv_1")) << "applied too early";
  QCoreApplication::processEvents();
  EXPECT_EQ(window->TrayIcon()->property("iconName").toString(), QStringLiteral("Corv_3"));
  EXPECT_EQ(window->TrayIcon()->toolTip(), QStringLiteral("Corvane 3 : scan"));
}

TEST(AgentIcons, FourDistinctIconsOf32Pixels) {
  std::vector<QImage> images;
  for (const char* name : {"Corv_1", "Corv_2", "Corv_3", "Corv_4"}) {
    images.push_back(agent::DrawAgentIcon(name));
    EXPECT_EQ(images.back().size(), QSize(32, 32)) << name;
    EXPECT_FALSE(agent::AgentIcon(name).isNull()) << name;
  }
  for (std::size_t i = 0; i < images.size(); ++i)
    for (std::size_t j = i + 1; j < images.size(); ++j) EXPECT_NE(images[i], images[j]) << i << " vs " << j;
  EXPECT_EQ(agent::DrawAgentIcon("Corv_9"), images[0]);
}

TEST_F(AgentWindowTest, DestroyRequestOnTheSocketEndsWithoutQuestion) {
  Make(kSecret);
  ASSERT_TRUE(window->Listen());
  // Each chunk is written on its own and given time to arrive.
  auto send = [&](const std::vector<QByteArray>& chunks) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(platform.ControlSocketName()));
    ASSERT_TRUE(socket.waitForConnected(5000));
    for (const QByteArray& chunk : chunks) {
      socket.write(chunk);
      ASSERT_TRUE(socket.waitForBytesWritten(5000));
      for (int i = 0; i < 20 && !window->QuitRequested(); ++i) QTest::qWait(10);
    }
    for (int i = 0; i < 300 && !window->QuitRequested() && chunks.back().endsWith('\n'); ++i)
      QTest::qWait(10);
    socket.disconnectFromServer();
  };
  send({"HELLO\nWM_DESTROYED\n", "WM_DESTROY"});
  EXPECT_FALSE(window->QuitRequested()) << "only a whole line asks";
  send({"WM_DE", "STROY\n"});
  EXPECT_TRUE(window->QuitRequested());
  EXPECT_EQ(window->TrayIcon(), nullptr);
}

// The request the console's complete stop will send.
TEST_F(AgentWindowTest, DestroyRequestOfTheLibraryReachesTheAgent) {
  Make();
  EXPECT_FALSE(agent::SendDestroyRequest(platform.ControlSocketName(), 500)) << "nobody listens yet";
  ASSERT_TRUE(window->Listen());
  ASSERT_TRUE(agent::SendDestroyRequest(platform.ControlSocketName()));
  for (int i = 0; i < 300 && !window->QuitRequested(); ++i) QTest::qWait(10);
  EXPECT_TRUE(window->QuitRequested());
}

}  // namespace
}  // namespace corvane::test
