#include "engine/configure.h"

#include "engine/purge.h"
#include "support/stored_secret.h"

namespace corvane {

std::string ReadSecret(const FolderSettings& settings, std::string_view key) {
  std::string stored = settings.ReadString(kSectionParams, key, "");
  if (stored.empty()) return {};
  try {
    return DecryptSetting(stored);
  } catch (const std::exception&) {
    return {};
  }
}

void ResetRunningMarks(const FolderRegister& folders, const std::filesystem::path& install_dir) {
  for (const auto& f : folders.List()) {
    FolderSettings s(SettingsPathOf(f, install_dir));
    if (!s.Exists()) continue;
    s.Update([](platform::IniDocument& doc) {
      const std::string* v = doc.Find(kSectionParams, "Encours");
      return v && *v != "0" && doc.Set(kSectionParams, "Encours", "0");
    });
  }
}

namespace {

// The keys every run reads alike.
void ConfigureCommon(TCustomDossier& d, const RegisteredFolder& folder, const std::filesystem::path& settings_file,
                     const FolderSettings& s) {
  const auto P = kSectionParams;
  d.SetNom(folder.name);
  d.SetFichierIni(settings_file);
  d.SetDestination(s.ReadString(P, "Destination", ""));
  d.SetOrigine(s.ReadString(P, "Origine", ""));
  d.SetJournal(s.ReadBool(P, "Journal", false));
  d.SetFTP(s.ReadInteger(P, "TypeDesti", 0) == 2);
  d.SetFTPUser(s.ReadString(P, "FTPUser", ""));
  d.SetFTPPass(ReadSecret(s, "FTPPass"));
  d.SetTauxZip(static_cast<std::int32_t>(s.ReadInteger(P, "TauxZip", 9)));
  d.SetSousRep(s.ReadBool(P, "SousRep", false));
}

}  // namespace

void ConfigureBackupRun(TCustomDossier& d, const RegisteredFolder& folder, const std::filesystem::path& settings_file,
                        RunCaller caller, bool archive, platform::DateTime now) {
  FolderSettings s(settings_file);
  const auto P = kSectionParams;
  const std::int64_t type = s.ReadInteger(P, "TypeSauve", 0);
  ConfigureCommon(d, folder, settings_file, s);
  d.SetCompresse(!archive && (type == 1 || type == 3));
  d.SetCrypte(archive ? type == 5 : (type == 2 || type == 3));
  d.SetLastSave(s.ReadDateTime(P, "LastSave", now));
  d.SetCryptage(ReadSecret(s, "Cryptage"));
  d.SetNewFic(s.ReadBool(P, "NewFic", true));
  d.SetPlugInn(s.ReadString(P, "PlugInn", ""));
  d.SetNbJoursValideZip(JoursValidite(s.ReadInteger(P, "NbJoursValideZip", 0)));
  if (archive) d.SetPasswordZip(ReadSecret(s, "PasswordZip"));
  d.SetLimites(true);
  const bool agent = caller != RunCaller::Console;
  // The file limit is set before the delay so that the run starts with
  // min(per minute x delay, per run).
  if (agent) {
    d.SetNBMaxFic(static_cast<std::int32_t>(s.ReadInteger(P, "NbMaxFic", 30)));
    d.SetVolumeMax(s.ReadInteger(P, "VolumeMax", 10));
  }
  d.SetDelaiSauve(static_cast<std::int32_t>(s.ReadInteger(P, "DelaiSauve", caller == RunCaller::AgentScheduler ? 0 : 30)));
  if (agent) d.SetNBMaxFicMin(static_cast<std::int32_t>(s.ReadInteger(P, "NbMaxFicMin", 30)));
}


void ConfigureMirrorRun(TCustomDossier& d, const RegisteredFolder& folder, const std::filesystem::path& settings_file) {
  FolderSettings s(settings_file);
  const std::int64_t type = s.ReadInteger(kSectionParams, "TypeSauve", 0);
  ConfigureCommon(d, folder, settings_file, s);
  d.SetTypeSauve(static_cast<std::int32_t>(type));
  d.SetCrypte(type == 2 || type == 3);
  d.SetCompresse(type == 1 || type == 3);
  d.SetDelaiMiroir(static_cast<std::int32_t>(s.ReadInteger(kSectionParams, "DelaiMiroir", 1)));
}

void ConfigurePurgeRun(TCustomDossier& d, const RegisteredFolder& folder, const std::filesystem::path& settings_file) {
  FolderSettings s(settings_file);
  const std::int64_t type = s.ReadInteger(kSectionParams, "TypeSauve", 0);
  ConfigureCommon(d, folder, settings_file, s);
  d.SetCompresse(type == 1 || type == 3);
  d.SetTypeSauve(static_cast<std::int32_t>(type));
  d.SetCrypte(type == 5);
  d.SetNbJoursValideZip(JoursValidite(s.ReadInteger(kSectionParams, "NbJoursValideZip", 1)));
}

std::unique_ptr<TWorkerThread> PrepareRun(const EngineServices& services, const RegisteredFolder& folder,
                                          const std::filesystem::path& settings_file, RunKind kind, RunCaller caller,
                                          platform::DateTime now) {
  auto d = std::make_unique<TCustomDossier>(services);
  switch (kind) {
    case RunKind::Save: {
      const bool archive = FolderSettings(settings_file).ReadInteger(kSectionParams, "TypeSauve", 0) > 3;
      ConfigureBackupRun(*d, folder, settings_file, caller, archive, now);
      if (archive) return std::make_unique<TArchivage>(std::move(d));
      return std::make_unique<Tsauvegarde>(std::move(d));
    }
    case RunKind::Mirror:
      ConfigureMirrorRun(*d, folder, settings_file);
      return std::make_unique<TMiroir>(std::move(d));
    case RunKind::Purge:
      ConfigurePurgeRun(*d, folder, settings_file);
      return std::make_unique<TValideZip>(std::move(d));
  }
  return nullptr;
}

}  // namespace corvane
