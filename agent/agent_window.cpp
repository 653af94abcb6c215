#include "agent/agent_window.h"

#include <QLocalSocket>

#include "agent/agent_icons.h"
#include "engine/journal.h"
#include "platform/files.h"
#include "support/folder_settings.h"
#include "support/language.h"
#include "support/registry_helpers.h"
#include "support/stored_secret.h"

namespace corvane::agent {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A folder's name shown as it is: "&" would otherwise mark a shortcut.
QString MenuEscaped(std::string_view s) { return Q(s).replace(QLatin1Char('&'), QStringLiteral("&&")); }

// Requests on the control socket are one short line.
constexpr qsizetype kMaxRequest = 64;

}  // namespace

QuitPassword ReadQuitPassword(platform::Registry& registry) {
  const std::string stored =
      RegReadString(registry, platform::RegRoot::CurrentUser, kOptionsKey, "Password");
  QuitPassword q;
  if (stored.empty()) return q;
  try {
    q.text = DecryptSetting(stored);
  } catch (const std::exception&) {
    // Never read a damaged value as "no password".
    q.state = QuitPassword::State::Unreadable;
    return q;
  }
  if (q.text.empty() || q.text == "\"" || q.text == "'") {
    q.text.clear();
    return q;
  }
  q.state = QuitPassword::State::Set;
  return q;
}

TAgentWindow::TAgentWindow(AgentContext context, QuitPassword password, QObject* parent)
    : QObject(parent), ctx_(std::move(context)), password_(std::move(password)) {
  setObjectName(Q(kWindowClass));
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (scheduler_) scheduler_->SchedulerTick();
  });
}

TAgentWindow::~TAgentWindow() = default;

bool TAgentWindow::Listen() {
  const QString name = Q(ctx_.platform->ControlSocketName());
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // Only the instance holding the single-instance mark gets here, so a
  // socket file left there is a dead agent's.
  QLocalServer::removeServer(name);
  if (!server_->listen(name)) return false;
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      connect(s, &QLocalSocket::readyRead, this, [this, s] { OnSocketData(s); });
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    }
  });
  return true;
}

void TAgentWindow::OnSocketData(QLocalSocket* socket) {
  QByteArray buffer = socket->property("request").toByteArray() + socket->readAll();
  if (buffer.size() > kMaxRequest) {
    socket->abort();
    return;
  }
  qsizetype end;
  while ((end = buffer.indexOf('\n')) >= 0) {
    const QByteArray line = buffer.left(end).trimmed();
    buffer.remove(0, end + 1);
    if (line == QByteArray::fromStdString(std::string(kDestroyRequest))) {
      Destroy();
      return;
    }
  }
  socket->setProperty("request", buffer);
}

void TAgentWindow::StartTimer(int period_ms) {
  timer_.setInterval(period_ms);
  timer_.start();
}

void TAgentWindow::AddIcon() {
  tray_ = std::make_unique<QSystemTrayIcon>();
  tray_->setObjectName(QStringLiteral("TrayIcon"));
  ApplyState(QStringLiteral("Corv_1"), Q(TipText(ctx_.catalog->veille)));
  menu_ = std::make_unique<QMenu>();
  menu_->setObjectName(QStringLiteral("WindowMenu_fr"));
  // Built anew at each opening: the register may have changed since.
  connect(menu_.get(), &QMenu::aboutToShow, this, [this] { BuildTrayMenu(*menu_); });
  BuildTrayMenu(*menu_);
  tray_->setContextMenu(menu_.get());
  connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) OpenConsole();
  });
  tray_->show();
}

void TAgentWindow::BuildTrayMenu(QMenu& menu) {
  // The previous build's folder submenus go with it.
  const QList<QMenu*> previous = menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
  menu.clear();
  qDeleteAll(previous);
  const MessageCatalog& c = *ctx_.catalog;
  auto add = [this](QMenu& into, const std::string& text, int id) {
    QAction* a = into.addAction(Q(text));
    a->setData(id);
    a->setObjectName(QStringLiteral("Command_%1").arg(id));
    // Queued: a command may open a box whose event loop rebuilds this menu,
    // which deletes the very action still emitting.
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); }, Qt::QueuedConnection);
  };
  // The folders, the last one of the register first.
  std::vector<RegisteredFolder> folders;
  if (scheduler_) {
    scheduler_->ListFolders();
    folders = scheduler_->Folders();
  }
  for (std::size_t k = folders.size(); k-- > 0;) {
    const int i = static_cast<int>(k);
    QMenu* sub = menu.addMenu(Q(c.dossier) + QLatin1Char(' ') + MenuEscaped(folders[k].name));
    sub->setObjectName(QStringLiteral("Folder_%1").arg(i));
    add(*sub, c.journal, kCmdFolderBase + 3 * i + 2);
    add(*sub, c.sauve_imm, kCmdFolderBase + 3 * i);
  }
  menu.addSeparator();
  add(menu, c.stop_sauve, kCmdStopSauve);
  menu.addSeparator();
  add(menu, c.show, kCmdShow);
  add(menu, c.aide, kCmdAide);
  menu.addSeparator();
  add(menu, c.stop, kCmdStop);
  add(menu, c.esc, kCmdEsc);
  menu.addSeparator();
}

void TAgentWindow::OnCommand(int id) {
  switch (id) {
    case kCmdEsc:
      return;
    case kCmdShow:
      OpenConsole();
      return;
    case kCmdStop:
      QuitAgent();
      return;
    case kCmdAide:
      OpenHelp();
      return;
    case kCmdStopSauve:
      SuspendRunningFolders();
      return;
    default:
      if (id >= kCmdFolderBase) FolderCommand(id);
      return;
  }
}

void TAgentWindow::FolderCommand(int id) {
  if (!scheduler_) return;
  scheduler_->ListFolders();
  const std::vector<RegisteredFolder>& folders = scheduler_->Folders();
  const std::size_t i = static_cast<std::size_t>((id - kCmdFolderBase) / 3);
  const int kind = (id - kCmdFolderBase) % 3;
  // The register may have lost folders since the menu was built.
  if (i >= folders.size()) return;
  const RegisteredFolder folder = folders[i];
  if (kind == 0) {
    // A folder whose settings file is gone has nothing to run, and its run
    // would create a stray file just to mark itself running.
    const std::filesystem::path path = scheduler_->SettingsFile(folder);
    if (!path.empty() && FolderSettings(path).Exists()) scheduler_->StartFolderRun(folder, path, RunCaller::AgentTray);
  } else if (kind == 2) {
    const std::filesystem::path journal =
        JournalPath(ctx_.paths.logs_dir, DateJour(ctx_.clock->Now()), folder.name);
    if (platform::FileExists(journal)) {
      ctx_.platform->OpenDocument(journal);
    } else {
      ctx_.runner->Message(ctx_.catalog->no_journal, ctx_.catalog->caption, QMessageBox::NoIcon, QMessageBox::Ok);
    }
  }
}

void TAgentWindow::SuspendRunningFolders() {
  if (!scheduler_) return;
  scheduler_->ListFolders();
  for (const RegisteredFolder& f : scheduler_->Folders()) {
    const std::filesystem::path path = scheduler_->SettingsFile(f);
    if (path.empty()) continue;
    FolderSettings s(path);
    if (s.ReadInteger(kSectionParams, "Encours", 0) == 1) s.WriteString(kSectionParams, "Suspension", "1");
  }
}

void TAgentWindow::QuitAgent() {
  // Read from the file now, not from the catalog: a translator's change
  // shows without a restart.
  const std::string question = ReadMessage(ctx_.paths.install_dir, "ConfirmArret", ctx_.language);
  if (ctx_.runner->Message(question, kQuitCaption, QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel) !=
      QMessageBox::Ok) {
    return;
  }
  switch (password_.state) {
    case QuitPassword::State::None:
      Destroy();
      return;
    case QuitPassword::State::Unreadable:
      ctx_.runner->Message(ctx_.catalog->erreur_pass, kQuitCaption, QMessageBox::Critical, QMessageBox::Ok);
      return;
    case QuitPassword::State::Set:
      break;
  }
  // The console sets passwords of any length: one longer than the box's
  // 24 characters must still be typeable, or quitting would be impossible.
  TPasswordDialog dialog(static_cast<int>(Q(password_.text).size()));
  if (ctx_.runner->Run(dialog) != QDialog::Accepted) return;
  if (dialog.Typed().toStdString() == password_.text) {
    Destroy();
    return;
  }
  ctx_.runner->Message(ctx_.catalog->erreur_pass, kQuitCaption, QMessageBox::Critical, QMessageBox::Ok);
}

void TAgentWindow::OpenConsole() {
  const std::filesystem::path dir =
      ctx_.paths.executable.empty() ? ctx_.paths.install_dir : ctx_.paths.executable.parent_path();
  ctx_.platform->StartProgram(dir / "corvane-admin");
}

void TAgentWindow::OpenHelp() {
  const std::filesystem::path help = ctx_.paths.install_dir / "corvane3pro.hlp";
  if (platform::FileExists(help)) ctx_.platform->OpenDocument(help);
}

void TAgentWindow::Destroy() {
  if (quit_requested_) return;
  quit_requested_ = true;
  timer_.stop();
  if (tray_) {
    tray_->hide();
    tray_.reset();
  }
  emit quitRequested();
}

void TAgentWindow::AfficheEtat(std::string_view icon, std::string_view tip) {
  // Called on a worker thread: only queue the change; the event is dropped
  // if this object is gone by then.
  QMetaObject::invokeMethod(
      this, [this, i = Q(icon), t = Q(tip)] { ApplyState(i, t); }, Qt::QueuedConnection);
}

void TAgentWindow::ApplyState(const QString& icon, const QString& tip) {
  if (!tray_) return;
  tray_->setIcon(AgentIcon(icon.toStdString()));
  tray_->setToolTip(tip);
  tray_->setProperty("iconName", icon);
}

}  // namespace corvane::agent
