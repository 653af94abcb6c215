#include "agent/scheduler.h"

#include <ctime>
#include <exception>

#include "engine/threads.h"
#include "support/folder_settings.h"

namespace corvane::agent {

EngineStarter::EngineStarter(EngineServices services) : services_(std::move(services)) {}

bool EngineStarter::Start(const RegisteredFolder& folder, const std::filesystem::path& settings_file, RunKind kind,
                          RunCaller caller) {
  try {
    const platform::DateTime now =
        services_.clock ? services_.clock->Now() : std::chrono::system_clock::now();
    std::unique_ptr<TWorkerThread> thread = PrepareRun(services_, folder, settings_file, kind, caller, now);
    return thread && TWorkerThread::Start(std::move(thread));
  } catch (...) {
    return false;
  }
}

bool IsScheduledDay(std::int64_t rule, platform::DateTime date) {
  if (rule == 0) return true;
  if (rule < 0) return false;
  const std::time_t t = std::chrono::system_clock::to_time_t(date);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return false;
  if (rule <= 7) return (tm.tm_wday == 0 ? 7 : tm.tm_wday) == rule;
  return tm.tm_mday == rule - 7;
}

Scheduler::Scheduler(platform::Registry& registry, std::filesystem::path install_dir, const platform::Clock& clock,
                     OperationStarter& starter)
    : registry_(registry), install_dir_(std::move(install_dir)), clock_(clock), starter_(starter) {}

int Scheduler::ListFolders() {
  registry_.CreateKey(platform::RegRoot::CurrentUser, kRegisterKey);
  folders_ = FolderRegister(registry_).List();
  return static_cast<int>(folders_.size()) - 1;
}

std::filesystem::path Scheduler::SettingsFile(const RegisteredFolder& folder) const {
  // A lone double quote is what some editors store for "nothing".
  if (folder.data.empty() || folder.data == "\"") return {};
  std::filesystem::path p = SettingsPathOf(folder, install_dir_);
  if (!p.is_absolute()) return {};
  return p;
}

void Scheduler::SchedulerTick() {
  if (ListFolders() < 0) return;
  // The table may be refreshed by a menu command while we walk it.
  const std::vector<RegisteredFolder> folders = folders_;
  for (const RegisteredFolder& f : folders) {
    try {
      TickFolder(f, clock_.Now());
    } catch (...) {
      // One broken folder must not keep the others from their runs.
    }
  }
}

namespace {

bool SameMinute(std::chrono::seconds a, std::chrono::seconds b) {
  using std::chrono::minutes;
  return std::chrono::duration_cast<minutes>(a) == std::chrono::duration_cast<minutes>(b);
}

}  // namespace

void Scheduler::TickFolder(const RegisteredFolder& folder, platform::DateTime now) {
  const std::filesystem::path path = SettingsFile(folder);
  if (path.empty()) return;
  FolderSettings s(path);
  // Every key of a missing file has its default, so nothing would be due;
  // testing first also keeps a write from creating the file.
  if (!s.Exists()) return;
  const auto P = kSectionParams;
  const std::int64_t compteur = s.ReadInteger(P, "Compteur", 1);
  const std::chrono::seconds midnight{0};
  const auto heure_sauve = s.ReadTime(P, "HeureSauve", midnight);
  const auto heure_miroir = s.ReadTime(P, "HeureMiroir", midnight);
  const auto efface_archive = s.ReadTime(P, "EffaceArchive", midnight);
  const auto time_of_day = platform::TimeOfDay(now);
  const std::string type_delai = s.ReadString(P, "TypeDelai", "");

  if (type_delai == "0") {
    const std::int64_t delai = s.ReadInteger(P, "DelaiSauve", 0);
    if (compteur < delai) {
      s.WriteInteger(P, "Compteur", compteur + 1);  // a failed write only delays this folder
    } else if (delai != 0) {
      StartFolderRun(folder, path, RunCaller::AgentScheduler);
      s.WriteInteger(P, "Compteur", 1);
    }
  }
  if (type_delai == "1" && SameMinute(time_of_day, heure_sauve) &&
      IsScheduledDay(s.ReadInteger(P, "JourSauve", 0), now)) {
    StartFolderRun(folder, path, RunCaller::AgentScheduler);
  }
  if (s.ReadString(P, "Miroir", "0") == "1" && SameMinute(time_of_day, heure_miroir)) StartMirror(folder, path);
  if (s.ReadInteger(P, "TypeSauve", 0) > 3 && s.ReadInteger(P, "NbJoursValideZip", 0) != 0 &&
      SameMinute(time_of_day, efface_archive)) {
    StartArchivePurge(folder, path);
  }
}

bool Scheduler::SafeStart(const RegisteredFolder& folder, const std::filesystem::path& settings_file, RunKind kind,
                          RunCaller caller) {
  try {
    return starter_.Start(folder, settings_file, kind, caller);
  } catch (...) {
    return false;
  }
}

bool Scheduler::StartFolderRun(const RegisteredFolder& folder, const std::filesystem::path& settings_file,
                               RunCaller caller) {
  return SafeStart(folder, settings_file, RunKind::Save, caller);
}

bool Scheduler::StartMirror(const RegisteredFolder& folder, const std::filesystem::path& settings_file) {
  return SafeStart(folder, settings_file, RunKind::Mirror, RunCaller::AgentScheduler);
}

bool Scheduler::StartArchivePurge(const RegisteredFolder& folder, const std::filesystem::path& settings_file) {
  return SafeStart(folder, settings_file, RunKind::Purge, RunCaller::AgentScheduler);
}

}  // namespace corvane::agent
