#include "engine/folder_definition.h"

#include <array>
#include <system_error>

#include "engine/configure.h"
#include "platform/datetime.h"
#include "support/stored_secret.h"

namespace corvane {

namespace {

constexpr std::array<std::string_view, 27> kEditorKeys = {
    "Nom",          "TypeSauve",  "TypeDelai",   "TypeDesti",  "Icone",       "Journal",          "SousRep",
    "Miroir",       "SortieWindows", "Origine",  "Destination", "DelaiSauve", "HeureSauve",       "EffaceArchive",
    "JourSauve",    "HeureMiroir", "FTPUser",    "FTPPass",    "Cryptage",    "PasswordZip",      "NbMaxFic",
    "NbMaxFicMin",  "VolumeMax",  "TauxZip",     "NbJoursValideZip", "DelaiMiroir", "PlugInn"};

constexpr std::array<int, kValiditePositions> kValidityDays = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                               15, 30, 60, 90, 180, 365};

// Upper bound of a file name on the file systems we run on, less ".ini".
constexpr std::size_t kMaxNameBytes = 251;

bool UsableAsFileName(std::string_view name) {
  if (name == "." || name == ".." || name.size() > kMaxNameBytes) return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == '\0' || static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

std::string Bool(bool b) { return b ? "1" : "0"; }

}  // namespace

std::span<const std::string_view> EditorKeys() { return kEditorKeys; }

int StoredCompressionRate(int slider_position) { return slider_position == 6 ? 9 : slider_position; }

int ValidityDays(int position) {
  if (position < 0 || position >= kValiditePositions) return position;
  return kValidityDays[static_cast<std::size_t>(position)];
}

std::optional<int> ValidityPosition(int days) {
  for (std::size_t i = 0; i < kValidityDays.size(); ++i)
    if (kValidityDays[i] == days) return static_cast<int>(i);
  return std::nullopt;
}

std::string_view CatalogKeyOf(FolderCheck check) {
  switch (check) {
    case FolderCheck::Ok: return {};
    case FolderCheck::ErreurNoName: return "ErreurNoName";
    case FolderCheck::ErreurNomFichier: return "ErreurNomFichier";
    case FolderCheck::ErreurNomDossier: return "ErreurNomDossier";
    case FolderCheck::ErreurTypeSauve: return "ErreurTypeSauve";
    case FolderCheck::ErreurTypedelai: return "ErreurTypedelai";
    case FolderCheck::ErreurTypeDesti: return "ErreurTypeDesti";
    case FolderCheck::ErreurOrigine: return "ErreurOrigine";
    case FolderCheck::ErreurDesti: return "ErreurDesti";
    case FolderCheck::ErreurCryptkey: return "ErreurCryptkey";
  }
  return {};
}

FolderCheck CheckFolder(const FolderDefinition& def, bool creating, const FolderRegister& folders,
                        const std::filesystem::path& settings_dir) {
  if (def.nom.empty()) return FolderCheck::ErreurNoName;
  if (creating) {
    if (!UsableAsFileName(def.nom)) return FolderCheck::ErreurNomFichier;
    // The register ignores letter case: "docs" would take over "Docs".
    if (folders.Contains(def.nom)) return FolderCheck::ErreurNomDossier;
    // A file left there (by hand, or by a folder registered elsewhere) is
    // not ours to take over.
    std::error_code ec;
    if (std::filesystem::exists(settings_dir / (def.nom + ".ini"), ec)) return FolderCheck::ErreurNomDossier;
  }
  if (def.type_sauve < 0 || def.type_sauve > kTypeSauveMax) return FolderCheck::ErreurTypeSauve;
  if (def.type_delai < 0 || def.type_delai > kTypeDelaiMax) return FolderCheck::ErreurTypedelai;
  if (def.type_desti < 0 || def.type_desti > kTypeDestiMax) return FolderCheck::ErreurTypeDesti;
  if (def.origine.empty()) return FolderCheck::ErreurOrigine;
  if (def.destination.empty()) return FolderCheck::ErreurDesti;
  if (def.NeedsKey() && def.cryptage.empty()) return FolderCheck::ErreurCryptkey;
  return FolderCheck::Ok;
}

std::filesystem::path FolderSettingsPath(const FolderDefinition& def, const FolderRegister& folders,
                                         const std::filesystem::path& settings_dir,
                                         const std::filesystem::path& install_dir) {
  for (const auto& f : folders.List())
    if (f.name == def.nom) return SettingsPathOf(f, install_dir);
  if (auto data = folders.Read(def.nom)) return SettingsPathOf({def.nom, *data}, install_dir);
  return settings_dir / (def.nom + ".ini");
}

std::optional<std::filesystem::path> SaveFolder(const FolderDefinition& def, FolderRegister& folders,
                                                const std::filesystem::path& settings_dir,
                                                const std::filesystem::path& install_dir) {
  const bool registered = folders.Contains(def.nom);
  const std::filesystem::path path = FolderSettingsPath(def, folders, settings_dir, install_dir);
  std::error_code ec;
  if (!registered) std::filesystem::create_directories(settings_dir, ec);
  const bool existed = std::filesystem::exists(path, ec);
  const std::array<std::string, kEditorKeys.size()> values = {
      def.nom,
      std::to_string(def.type_sauve),
      std::to_string(def.type_delai),
      std::to_string(def.type_desti),
      std::to_string(def.icone),
      Bool(def.journal),
      Bool(def.sous_rep),
      Bool(def.miroir),
      Bool(def.sortie_windows),
      def.origine,
      def.destination,
      std::to_string(def.delai_sauve),
      platform::FormatTimeOfDay(def.heure_sauve),
      platform::FormatTimeOfDay(def.efface_archive),
      std::to_string(def.jour_sauve),
      platform::FormatTimeOfDay(def.heure_miroir),
      def.ftp_user,
      EncryptSetting(def.ftp_pass),
      EncryptSetting(def.cryptage),
      EncryptSetting(def.password_zip),
      std::to_string(def.nb_max_fic),
      std::to_string(def.nb_max_fic_min),
      std::to_string(def.volume_max),
      std::to_string(def.taux_zip),
      std::to_string(def.nb_jours_valide_zip),
      std::to_string(def.delai_miroir),
      def.plug_inn,
  };
  FolderSettings settings(path);
  const bool written = settings.Update([&](platform::IniDocument& doc) {
    bool changed = false;
    for (std::size_t i = 0; i < kEditorKeys.size(); ++i) changed |= doc.Set(kSectionParams, kEditorKeys[i], values[i]);
    return changed;
  });
  if (!written) return std::nullopt;
  if (!folders.Write(def.nom, path)) {
    // A new file nobody can find would only block the name later.
    if (!existed) std::filesystem::remove(path, ec);
    return std::nullopt;
  }
  return path;
}

FolderDefinition ReadFolderDefinition(const FolderSettings& s) {
  const auto P = kSectionParams;
  const auto integer = [&](std::string_view key, int fallback) {
    return static_cast<int>(s.ReadInteger(P, key, fallback));
  };
  FolderDefinition d;
  d.nom = s.ReadString(P, "Nom", "");
  d.type_sauve = integer("TypeSauve", 0);
  d.type_delai = integer("TypeDelai", 0);
  d.type_desti = integer("TypeDesti", 0);
  d.icone = integer("Icone", 0);
  d.journal = s.ReadBool(P, "Journal", false);
  d.sous_rep = s.ReadBool(P, "SousRep", false);
  d.miroir = s.ReadBool(P, "Miroir", false);
  d.sortie_windows = s.ReadBool(P, "SortieWindows", false);
  d.origine = s.ReadString(P, "Origine", "");
  d.destination = s.ReadString(P, "Destination", "");
  d.delai_sauve = integer("DelaiSauve", 0);
  d.heure_sauve = s.ReadTime(P, "HeureSauve", std::chrono::seconds(0));
  d.efface_archive = s.ReadTime(P, "EffaceArchive", std::chrono::seconds(9 * 3600));
  d.jour_sauve = integer("JourSauve", 0);
  d.heure_miroir = s.ReadTime(P, "HeureMiroir", std::chrono::seconds(0));
  d.ftp_user = s.ReadString(P, "FTPUser", "");
  d.ftp_pass = ReadSecret(s, "FTPPass");
  d.cryptage = ReadSecret(s, "Cryptage");
  d.password_zip = ReadSecret(s, "PasswordZip");
  d.nb_max_fic = integer("NbMaxFic", 300);
  d.nb_max_fic_min = integer("NbMaxFicMin", 30);
  d.volume_max = integer("VolumeMax", 10);
  d.taux_zip = integer("TauxZip", 5);
  d.nb_jours_valide_zip = integer("NbJoursValideZip", 0);
  d.delai_miroir = integer("DelaiMiroir", 1);
  d.plug_inn = s.ReadString(P, "PlugInn", "");
  d.last_save = s.ReadDateTime(P, "LastSave", platform::DateTime{});
  return d;
}

}  // namespace corvane
