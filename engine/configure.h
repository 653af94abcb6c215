// Filling a folder object from the folder's settings file, as each kind of
// caller does it (their defaults differ).
#pragma once

#include <memory>

#include "engine/custom_dossier.h"
#include "engine/threads.h"
#include "support/folder_register.h"
#include "support/folder_settings.h"

namespace corvane {

enum class RunCaller {
  AgentScheduler,  // the per-minute scheduler
  AgentTray,       // the tray menu's immediate run
  Console,         // the console's immediate operations
};

// Configures a backup or archive run (TypeSauve 0..3, or 4..5 with `archive`).
void ConfigureBackupRun(TCustomDossier& dossier, const RegisteredFolder& folder,
                        const std::filesystem::path& settings_file, RunCaller caller, bool archive,
                        platform::DateTime now);

// Configures a mirror run of the folder.
void ConfigureMirrorRun(TCustomDossier& dossier, const RegisteredFolder& folder,
                        const std::filesystem::path& settings_file);

// Configures a purge of the folder's invalid archives.
void ConfigurePurgeRun(TCustomDossier& dossier, const RegisteredFolder& folder,
                       const std::filesystem::path& settings_file);

enum class RunKind {
  Save,    // the folder's backup, or its archiving for an archive folder
  Mirror,
  Purge,
};

// A folder's operation ready to start: the folder object configured from
// its settings file and the worker thread that runs it (Tsauvegarde or
// TArchivage by the folder's kind, TMiroir, TValideZip). Throws what reading
// the settings throws; the callers decide whether that is silent.
std::unique_ptr<TWorkerThread> PrepareRun(const EngineServices& services, const RegisteredFolder& folder,
                                          const std::filesystem::path& settings_file, RunKind kind, RunCaller caller,
                                          platform::DateTime now);

// Clears the running marks a run that never ended left: Encours "0" in
// every registered folder whose settings file exists (none is created).
void ResetRunningMarks(const FolderRegister& folders, const std::filesystem::path& install_dir);

// A stored secret deciphered; text that does not decipher gives empty text.
std::string ReadSecret(const FolderSettings& settings, std::string_view key);

}  // namespace corvane
