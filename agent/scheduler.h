// The per-minute scheduler: which operations of which folders fall due in
// the current minute, read afresh from the register and the settings files
// at every tick. It starts operations and never waits for them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/configure.h"
#include "engine/custom_dossier.h"
#include "platform/datetime.h"
#include "platform/registry.h"
#include "support/folder_register.h"

namespace corvane::agent {

// Starts one operation of a folder. The agent's starter prepares it with the
// engine and hands it to a worker thread; tests record what was asked.
// Never throws: an operation that cannot start simply does not take place.
class OperationStarter {
 public:
  virtual ~OperationStarter() = default;
  virtual bool Start(const RegisteredFolder& folder, const std::filesystem::path& settings_file, RunKind kind,
                     RunCaller caller) = 0;
};

// PrepareRun and a worker thread at idle priority; everything preparing or
// starting throws is swallowed here.
class EngineStarter final : public OperationStarter {
 public:
  // `services.clock` gives the time of the runs and of their LastSave default.
  explicit EngineStarter(EngineServices services);
  bool Start(const RegisteredFolder& folder, const std::filesystem::path& settings_file, RunKind kind,
             RunCaller caller) override;

 private:
  EngineServices services_;
};

// The day rule of absolute schedules: 0 every day, 1..7 Monday..Sunday,
// 8 and above the day of the month plus 7, negative never.
bool IsScheduledDay(std::int64_t rule, platform::DateTime date);

class Scheduler {
 public:
  Scheduler(platform::Registry& registry, std::filesystem::path install_dir, const platform::Clock& clock,
            OperationStarter& starter);

  // Refreshes the folder table from the register; the number of folders
  // less one (-1 for none). The table has no fixed size.
  int ListFolders();
  const std::vector<RegisteredFolder>& Folders() const { return folders_; }

  // Where a folder's settings file is; empty for an entry that names none
  // (empty data, or a relative path that would depend on our working folder).
  std::filesystem::path SettingsFile(const RegisteredFolder& folder) const;

  // One pass over every folder. One folder's failure never stops the pass.
  void SchedulerTick();

  // The folder's backup (or archiving, for an archive folder). `caller`
  // chooses the delay default: 0 for the scheduler, 30 for the tray menu.
  bool StartFolderRun(const RegisteredFolder& folder, const std::filesystem::path& settings_file, RunCaller caller);
  bool StartMirror(const RegisteredFolder& folder, const std::filesystem::path& settings_file);
  bool StartArchivePurge(const RegisteredFolder& folder, const std::filesystem::path& settings_file);

 private:
  bool SafeStart(const RegisteredFolder& folder, const std::filesystem::path& settings_file, RunKind kind,
                 RunCaller caller);
  void TickFolder(const RegisteredFolder& folder, platform::DateTime now);

  platform::Registry& registry_;
  std::filesystem::path install_dir_;
  const platform::Clock& clock_;
  OperationStarter& starter_;
  std::vector<RegisteredFolder> folders_;
};

}  // namespace corvane::agent
