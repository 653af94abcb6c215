// Filling a folder object from the folder's settings file, as each kind of
// caller does it (their defaults differ).
#pragma once

#include "engine/custom_dossier.h"
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

// Clears the running marks a run that never ended left: Encours "0" in
// every registered folder whose settings file exists (none is created).
void ResetRunningMarks(const FolderRegister& folders, const std::filesystem::path& install_dir);

// A stored secret deciphered; text that does not decipher gives empty text.
std::string ReadSecret(const FolderSettings& settings, std::string_view key);

}  // namespace corvane
