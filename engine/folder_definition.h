// A backup folder as the folder editor sees it: every setting it shows, its
// checks before a save, and the save itself (the settings file written key
// by key in the editor's order, secrets enciphered, the register entry).
// Shared by every program that creates or changes folders.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "support/folder_register.h"
#include "support/folder_settings.h"

namespace corvane {

// Kinds of folder (TypeSauve), destination types (TypeDesti) and schedule
// types (TypeDelai) as stored.
inline constexpr int kTypeSauveMax = 5;
inline constexpr int kTypeDestiFtp = 2;
inline constexpr int kTypeDestiMax = 2;
inline constexpr int kTypeDelaiMax = 1;
inline constexpr int kJourSauveMax = 35;     // 0 every day, 1..7 Monday..Sunday, 8..35 the 1st..28th
inline constexpr int kDelaiSauveMax = 1440;  // minutes
inline constexpr int kLimiteMax = 32000;     // NbMaxFic, NbMaxFicMin, VolumeMax
inline constexpr int kDelaiMiroirMax = 30;
inline constexpr int kValiditePositions = 17;  // "Permanente", 1..10 days, 15, 30, 60, 90 days, 6 months, 1 year

// Settings of one folder, with the values a new folder starts with in the
// editor. Secrets are held in clear and enciphered only when saved.
struct FolderDefinition {
  std::string nom;
  int type_sauve = 0;
  int type_delai = 0;
  int type_desti = 0;
  int icone = 0;
  bool journal = true;
  bool sous_rep = true;
  bool miroir = false;
  bool sortie_windows = false;
  std::string origine;
  std::string destination;
  int delai_sauve = 30;
  std::chrono::seconds heure_sauve{7 * 3600 + 2 * 60 + 40};
  std::chrono::seconds efface_archive{7 * 3600 + 2 * 60 + 40};
  int jour_sauve = 0;
  std::chrono::seconds heure_miroir{17 * 3600 + 2 * 60 + 40};
  std::string ftp_user;
  std::string ftp_pass;
  std::string cryptage;
  std::string password_zip;
  int nb_max_fic = 300;
  int nb_max_fic_min = 30;
  int volume_max = 10;
  int taux_zip = 9;  // as stored; see StoredCompressionRate
  int nb_jours_valide_zip = 0;  // the validity list's position
  int delai_miroir = 3;
  std::string plug_inn;
  platform::DateTime last_save{};  // read only; a save never writes it

  bool IsArchive() const { return type_sauve > 3; }
  // The kinds whose files or archive are enciphered with the folder's key.
  bool NeedsKey() const { return type_sauve == 2 || type_sauve == 3 || type_sauve == 5; }
};

// The editor's compression slider stores its starting position 6 as 9;
// every other position is stored as it stands.
int StoredCompressionRate(int slider_position);

// The validity list's positions 11 to 16 stand for 15, 30, 60, 90, 180 and
// 365 days; positions 0 to 10 are that many days.
int ValidityDays(int position);
// The position of a number of days the list offers; nothing for any other.
std::optional<int> ValidityPosition(int days);

// The checks before a save, in the editor's order; the catalog key of the
// message of the first that fails. Empty when all pass.
enum class FolderCheck {
  Ok,
  ErreurNoName,        // empty name
  ErreurNomFichier,    // a name no settings file can bear
  ErreurNomDossier,    // name taken (any letter case), or its settings file already there
  ErreurTypeSauve,
  ErreurTypedelai,
  ErreurTypeDesti,
  ErreurOrigine,
  ErreurDesti,
  ErreurCryptkey,
};
std::string_view CatalogKeyOf(FolderCheck check);

// `creating`: the folder is new, so its name must be free. `settings_dir` is
// where a new folder's settings file goes.
FolderCheck CheckFolder(const FolderDefinition& def, bool creating, const FolderRegister& folders,
                        const std::filesystem::path& settings_dir);

// Where the save writes: the registered file of a folder of that name, else
// `settings_dir`, the name and ".ini".
std::filesystem::path FolderSettingsPath(const FolderDefinition& def, const FolderRegister& folders,
                                         const std::filesystem::path& settings_dir,
                                         const std::filesystem::path& install_dir);

// Writes every key of section PARAMS in the editor's order, as one step (no
// reader ever sees half a save), then the register entry. Keys of other
// sections and keys the editor does not write are kept. Returns the settings
// file, or nothing when the file or the register could not be written.
std::optional<std::filesystem::path> SaveFolder(const FolderDefinition& def, FolderRegister& folders,
                                                const std::filesystem::path& settings_dir,
                                                const std::filesystem::path& install_dir);

// Loads a folder's settings with the editor's defaults for absent keys;
// secrets deciphered (a value that does not decipher reads as empty).
FolderDefinition ReadFolderDefinition(const FolderSettings& settings);

// The keys of section PARAMS the editor writes, in its order.
std::span<const std::string_view> EditorKeys();

}  // namespace corvane
