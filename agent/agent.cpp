#include "agent/agent.h"

#include <QCoreApplication>

#include <cctype>
#include <chrono>
#include <iostream>

#include "engine/configure.h"
#include "platform/desktop_integration.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/network.h"
#include "support/folder_register.h"
#include "support/language.h"
#include "support/registry_helpers.h"

namespace corvane::agent {

using platform::RegRoot;

namespace {

bool HasExtension(const std::filesystem::path& p, std::string_view ext) {
  std::string e = p.extension().string();
  for (char& ch : e) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return e == ext;
}

void RegisterFileTypes(platform::Registry& registry, const std::filesystem::path& install_dir) {
  const RegRoot HKCR = RegRoot::ClassesRoot;
  // Journals and calendars open in the text editor; encrypted files get
  // the manager's icon and no open command.
  RegWriteString(registry, HKCR, ".jcv", "", "jcv_file");
  RegWriteString(registry, HKCR, "jcv_file\\shell\\open\\command", "", "NOTEPAD.EXE %1");
  RegWriteString(registry, HKCR, "jcv_file\\DefaultIcon", "", "NOTEPAD.EXE,0");
  RegWriteString(registry, HKCR, ".cal", "", "cal_file");
  RegWriteString(registry, HKCR, "cal_file\\shell\\open\\command", "", "NOTEPAD.EXE %1");
  RegWriteString(registry, HKCR, "cal_file\\DefaultIcon", "", "NOTEPAD.EXE,0");
  RegWriteString(registry, HKCR, ".ccv", "", "ccv_file");
  RegWriteString(registry, HKCR, "ccv_file\\DefaultIcon", "", (install_dir / "corvane-manager").string() + ",1");
}

}  // namespace

void PurgeOldLogs(const std::filesystem::path& logs_dir, platform::DateTime now, int delai_cal, int delai_jcv) {
  const platform::DateTime midnight = platform::StartOfDay(now);
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(logs_dir, entries)) return;
  using Days = std::chrono::duration<double, std::ratio<86400>>;
  for (const auto& [ext, limit] : {std::pair<std::string_view, int>{".cal", delai_cal}, {".jcv", delai_jcv}}) {
    for (const platform::DirEntry& e : entries) {
      const std::filesystem::path file = logs_dir / e.name;
      if (!e.is_regular || !HasExtension(file, ext)) continue;
      const double age = std::chrono::duration_cast<Days>(midnight - e.modified).count();
      if (age > limit) platform::DeleteFile(file);
    }
  }
}

Agent::Agent(AgentSetup setup) : setup_(std::move(setup)) {
  if (!setup_.err) setup_.err = &std::cerr;
}

Agent::~Agent() = default;

bool Agent::Start() {
  platform::Registry& registry = *setup_.registry;
  const platform::Paths& paths = setup_.paths;

  // Language and catalog first: every later message comes from it.
  language_ = RegReadString(registry, RegRoot::CurrentUser, kLanguageRegistryKey, kLanguageRegistryValue);
  if (language_.empty()) language_ = platform::ShortLanguageName(setup_.locale_language_name);
  catalog_ = LoadMessageCatalog(paths.install_dir, language_, registry);

  // One agent per user. The running marks are cleared only once we know
  // we are that agent, so a second start never touches the first one's runs.
  if (!setup_.platform->AcquireSingleInstance()) {
    setup_.runner->Message(catalog_.mutex, catalog_.caption, QMessageBox::Critical, QMessageBox::Ok);
    return false;
  }
  ResetRunningMarks(FolderRegister(registry), paths.install_dir);

  AgentContext context;
  context.registry = &registry;
  context.paths = paths;
  context.clock = setup_.clock;
  context.catalog = &catalog_;
  context.language = language_;
  context.platform = setup_.platform;
  context.runner = setup_.runner;
  window_ = std::make_unique<TAgentWindow>(context, QuitPassword{});
  if (!window_->Listen()) {
    window_.reset();
    setup_.runner->Message(catalog_.erreur_sys, catalog_.caption, QMessageBox::Critical, QMessageBox::Ok);
    return false;
  }

  OperationStarter* starter = setup_.starter;
  if (!starter) {
    EngineServices services;
    services.catalog = &catalog_;
    services.clock = setup_.clock;
    services.status = window_.get();
    services.program_dir = paths.install_dir;
    services.logs_dir = paths.logs_dir;
    services.work_dir = paths.work_dir;
    services.network_root = platform::NetworkRootOf(paths);
    services.computer_name = platform::ComputerName();
    engine_starter_ = std::make_unique<EngineStarter>(std::move(services));
    starter = engine_starter_.get();
  }
  scheduler_ = std::make_unique<Scheduler>(registry, paths.install_dir, *setup_.clock, *starter);
  window_->SetScheduler(scheduler_.get());
  window_->StartTimer(setup_.tick_ms);

  if (setup_.with_icon) window_->AddIcon();
  if (!setup_.with_icon || !setup_.notification_area) {
    *setup_.err << "corvane-agent: no notification area here; running without an icon" << std::endl;
  }

  window_->SetQuitPassword(ReadQuitPassword(registry));

  std::error_code ec;
  std::filesystem::create_directories(paths.logs_dir, ec);  // a failure only means no journals

  // At every start, so that a moved installation repairs the entry.
  if (!paths.executable.empty()) {
    RegWriteString(registry, RegRoot::CurrentUser, platform::DesktopIntegration::kRunKey,
                   platform::DesktopIntegration::kRunValue, paths.executable.string());
  }
  RegisterFileTypes(registry, paths.install_dir);

  const int delai_cal = RegReadInteger(registry, RegRoot::CurrentUser, kOptionsKey, "DelaiCal",
                                       kDefaultDelaiCal);
  const int delai_jcv = RegReadInteger(registry, RegRoot::CurrentUser, kOptionsKey, "DelaiJcv",
                                       kDefaultDelaiJcv);
  PurgeOldLogs(paths.logs_dir, setup_.clock->Now(), delai_cal, delai_jcv);
  return true;
}

int Agent::Run() {
  if (!Start()) return 1;
  QObject::connect(window_.get(), &TAgentWindow::quitRequested, QCoreApplication::instance(),
                   [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  const int code = QCoreApplication::exec();
  window_->Timer().stop();
  return code;
}

}  // namespace corvane::agent
