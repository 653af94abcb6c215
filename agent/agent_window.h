// The agent's hidden window: the control socket the console's complete stop
// writes to, the scheduler's timer, the tray icon with the menu rebuilt at
// each opening, and the menu's commands.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <QLocalServer>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "agent/agent_dialogs.h"
#include "agent/agent_platform.h"
#include "agent/scheduler.h"
#include "engine/status.h"
#include "platform/datetime.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "support/message_catalog.h"

namespace corvane::agent {

// Menu command identifiers; a folder's commands are 112 + 3i (immediate
// run) and 114 + 3i (journal of the day), i its index in the folder table.
inline constexpr int kCmdEsc = 0;
inline constexpr int kCmdShow = 101;
inline constexpr int kCmdStop = 102;
inline constexpr int kCmdAide = 103;
inline constexpr int kCmdStopSauve = 109;
inline constexpr int kCmdFolderBase = 112;

inline constexpr int kSchedulerPeriodMs = 60000;
// The global options the console's options window writes.
inline constexpr std::string_view kOptionsKey = "Software\\Corvane3\\inc";
// The caption of the quit boxes (the window class's name, unlike the
// catalog's caption of the other boxes).
inline constexpr std::string_view kQuitCaption = "Corvane_3";

// The password that protects quitting from the menu.
struct QuitPassword {
  enum class State {
    None,        // quitting needs the confirmation only
    Set,         // and this text
    Unreadable,  // stored but not deciphered: quitting from the menu is refused
  };
  State state = State::None;
  std::string text;
};
// "Password" of "Software\Corvane3\inc", deciphered; a lone double quote or
// apostrophe counts as none.
QuitPassword ReadQuitPassword(platform::Registry& registry);

struct AgentContext {
  platform::Registry* registry = nullptr;
  platform::Paths paths;
  const platform::Clock* clock = nullptr;
  const MessageCatalog* catalog = nullptr;
  std::string language;  // the language name the quit question is read in
  AgentPlatform* platform = nullptr;
  ModalRunner* runner = nullptr;
};

class TAgentWindow final : public QObject, public StatusDisplay {
  Q_OBJECT

 public:
  TAgentWindow(AgentContext context, QuitPassword password, QObject* parent = nullptr);
  ~TAgentWindow() override;

  void SetScheduler(Scheduler* scheduler) { scheduler_ = scheduler; }
  void SetQuitPassword(QuitPassword password) { password_ = std::move(password); }

  // The window's stand-in: listens on the control socket. False when it
  // cannot (the start-up then shows "ErreurSys").
  bool Listen();
  void StartTimer(int period_ms);
  QTimer& Timer() { return timer_; }
  // The tray icon "Corv_1" with the idle tip, and its menu.
  void AddIcon();
  QSystemTrayIcon* TrayIcon() { return tray_.get(); }
  QMenu* Menu() { return menu_.get(); }

  // Rebuilds `menu` from the catalog and the folder register.
  void BuildTrayMenu(QMenu& menu);
  void OnCommand(int id);
  void QuitAgent();
  void SuspendRunningFolders();
  void OpenConsole();
  void OpenHelp();
  // Removes the icon and asks the program to end, with no question.
  void Destroy();

  bool QuitRequested() const { return quit_requested_; }

  // From worker threads: the change reaches the icon on this thread.
  void AfficheEtat(std::string_view icon, std::string_view tip) override;

 signals:
  void quitRequested();

 private:
  void FolderCommand(int id);
  void ApplyState(const QString& icon, const QString& tip);
  void OnSocketData(class QLocalSocket* socket);

  AgentContext ctx_;
  QuitPassword password_;
  Scheduler* scheduler_ = nullptr;
  QTimer timer_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> menu_;
  QLocalServer* server_ = nullptr;
  bool quit_requested_ = false;
};

}  // namespace corvane::agent
