#include "support/message_catalog.h"

#include <array>
#include <exception>
#include <optional>
#include <vector>

#include "platform/ini_file.h"
#include "platform/locale.h"
#include "support/language.h"

namespace corvane {
namespace {

using M = MessageCatalog;

constexpr std::array<CatalogKey, 41> kCatalogKeys = {{
    {"ErreurSauvegarde", &M::erreur_sauvegarde},
    {"ErreurFtp", &M::erreur_ftp},
    {"ImpossibleCreerRep", &M::impossible_creer_rep},
    {"Mutex", &M::mutex},
    {"ErreurSys", &M::erreur_sys},
    {"Tray", &M::tray},
    {"ConfirmArret", &M::confirm_arret},
    {"ErreurPass", &M::erreur_pass},
    {"SauveImm", &M::sauve_imm},
    {"ErreurNomDossier", &M::erreur_nom_dossier},
    {"ArchiveImm", &M::archive_imm},
    {"Journal", &M::journal},
    {"Miroir", &M::miroir},
    {"DelZip", &M::del_zip},
    {"ESC", &M::esc},
    {"NoJournal", &M::no_journal},
    {"Dossier", &M::dossier},
    {"ErreurSauve", &M::erreur_sauve},
    {"Sauve", &M::sauve},
    {"SauveSortie", &M::sauve_sortie},
    {"ErreurReseau", &M::erreur_reseau},
    {"ErreurReseauRefus", &M::erreur_reseau_refus},
    {"ErreurConnectReseau", &M::erreur_connect_reseau},
    {"ErreurCapacite", &M::erreur_capacite},
    {"StopSauve", &M::stop_sauve},
    {"Suspension", &M::suspension},
    {"Scan", &M::scan},
    {"ScanMiroir", &M::scan_miroir},
    {"Copie", &M::copie},
    {"Veille", &M::veille},
    {"Aide", &M::aide},
    {"Show", &M::show},
    {"Stop", &M::stop},
    {"FinJournal", &M::fin_journal},
    {"EchecTransfert", &M::echec_transfert},
    {"fincptFic", &M::fin_cpt_fic},
    {"debutcptFic", &M::debut_cpt_fic},
    {"fincptFicFtp", &M::fin_cpt_fic_ftp},
    {"debutcptFicFtp", &M::debut_cpt_fic_ftp},
    {"ErreurPath", &M::erreur_path},
    {"ErreurReadAccess", &M::erreur_read_access},
}};

// The file to load: the locale's own language file when it can be read. A
// locale without one (an English system looks for "English .lge", blank
// included) would otherwise leave every text empty, so the language the
// console shows comes next and French, which every installation has, last.
std::optional<std::filesystem::path> CatalogFile(const std::filesystem::path& install_dir,
                                                 std::string_view locale_language_name,
                                                 platform::Registry& registry) {
  std::vector<std::string> candidates;
  candidates.push_back(platform::ShortLanguageName(locale_language_name) + std::string(kLanguageExtension));
  try {
    std::string stored = StoredLanguage(registry);
    if (!stored.empty()) candidates.push_back(std::move(stored));
  } catch (const std::exception&) {
    // An unreadable registry store only removes that candidate.
  }
  candidates.emplace_back(kFrenchLanguageFile);
  for (const std::string& language : candidates) {
    auto file = LanguageFilePath(install_dir, language);
    if (file && IsReadableFile(*file)) return file;
  }
  return std::nullopt;
}

}  // namespace

std::span<const CatalogKey> CatalogKeys() { return kCatalogKeys; }

const std::string& MessageCatalog::Text(std::string_view key) const {
  static const std::string empty;
  for (const CatalogKey& k : kCatalogKeys)
    if (platform::NamesEqual(k.key, key)) return this->*k.text;
  return empty;
}

MessageCatalog LoadMessageCatalog(const std::filesystem::path& install_dir, std::string_view locale_language_name,
                                  platform::Registry& registry) {
  MessageCatalog catalog;
  try {
    auto file = CatalogFile(install_dir, locale_language_name, registry);
    if (!file) return catalog;
    // One parse for every key, so that a file rewritten meanwhile never
    // gives a catalog mixing two versions.
    auto doc = platform::IniFile(*file).Snapshot();
    catalog.file = *file;
    for (const CatalogKey& k : kCatalogKeys) {
      const std::string* text = doc->Find(kMessageSection, k.key);
      catalog.*k.text = text ? *text : std::string();
    }
  } catch (const std::exception&) {
    return MessageCatalog{};
  }
  return catalog;
}

}  // namespace corvane
