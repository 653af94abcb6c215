// The messages the engine and the agent need at hand, loaded at once from
// section "Mess" of a language file. Each program holds one catalog and
// reloads it when it wants a changed language file to show.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace corvane {

// Caption of the agent's and the engine's message boxes; no file gives it.
inline constexpr std::string_view kCatalogCaption = "Corvane 3";

struct MessageCatalog {
  std::string caption{kCatalogCaption};
  // The language file the texts came from; empty when none could be read.
  std::filesystem::path file;

  // One text per key of section "Mess"; empty until loaded.
  std::string erreur_sauvegarde;      // ErreurSauvegarde
  std::string erreur_ftp;             // ErreurFtp
  std::string impossible_creer_rep;   // ImpossibleCreerRep
  std::string mutex;                  // Mutex
  std::string erreur_sys;             // ErreurSys
  std::string tray;                   // Tray
  std::string confirm_arret;          // ConfirmArret
  std::string erreur_pass;            // ErreurPass
  std::string sauve_imm;              // SauveImm
  std::string erreur_nom_dossier;     // ErreurNomDossier
  std::string archive_imm;            // ArchiveImm
  std::string journal;                // Journal
  std::string miroir;                 // Miroir
  std::string del_zip;                // DelZip
  std::string esc;                    // ESC
  std::string no_journal;             // NoJournal
  std::string dossier;                // Dossier
  std::string erreur_sauve;           // ErreurSauve
  std::string sauve;                  // Sauve
  std::string sauve_sortie;           // SauveSortie
  std::string erreur_reseau;          // ErreurReseau
  std::string erreur_reseau_refus;    // ErreurReseauRefus
  std::string erreur_connect_reseau;  // ErreurConnectReseau
  std::string erreur_capacite;        // ErreurCapacite
  std::string stop_sauve;             // StopSauve
  std::string suspension;             // Suspension
  std::string scan;                   // Scan
  std::string scan_miroir;            // ScanMiroir
  std::string copie;                  // Copie
  std::string veille;                 // Veille
  std::string aide;                   // Aide
  std::string show;                   // Show
  std::string stop;                   // Stop
  std::string fin_journal;            // FinJournal
  std::string echec_transfert;        // EchecTransfert
  std::string fin_cpt_fic;            // fincptFic
  std::string debut_cpt_fic;          // debutcptFic
  std::string fin_cpt_fic_ftp;        // fincptFicFtp
  std::string debut_cpt_fic_ftp;      // debutcptFicFtp
  std::string erreur_path;            // ErreurPath
  std::string erreur_read_access;     // ErreurReadAccess

  // The text of a catalog key (names match without regard to case); empty
  // for a key that is not in the catalog. Lets callers that carry a key, such
  // as the icon-state updates, find its text.
  const std::string& Text(std::string_view key) const;
};

struct CatalogKey {
  std::string_view key;
  std::string MessageCatalog::*text;
};

// Every catalog key with the member that holds its text, in loading order.
std::span<const CatalogKey> CatalogKeys();

// Fills a catalog from `install_dir`. The file is the first eight characters
// of the locale language name followed by ".lge"; when that file cannot be
// read, the language stored in "localisation", then "Français.lge". With none
// of them every text stays empty.
MessageCatalog LoadMessageCatalog(const std::filesystem::path& install_dir, std::string_view locale_language_name,
                                  platform::Registry& registry);

}  // namespace corvane
