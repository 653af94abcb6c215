// The backup folder object: one folder's settings for one run, and the run
// itself. A caller builds one per run, fills it through the setters, hands it
// to a worker thread, and never touches it again.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/journal.h"
#include "engine/status.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/network.h"
#include "platform/unique_fd.h"
#include "support/folder_settings.h"
#include "support/ftp_client.h"
#include "support/message_catalog.h"

namespace corvane {

// Error codes of a run.
inline constexpr int kErreurAucune = 0;
inline constexpr int kErreurChemin = 3;
inline constexpr int kErreurAccesRefuse = 5;
inline constexpr int kErreurReseau = 53;
inline constexpr int kErreurArchive = 99;
inline constexpr int kErreurConnexionFtp = 10038;

// The steps between scan and delivery that compressing, encrypting and
// plug-in folders need. Each takes the file to deliver and gives the file
// that replaces it (built in `work_dir`, never beside the source), or
// nothing when the file cannot go on.
class DeliverySteps {
 public:
  virtual ~DeliverySteps() = default;
  struct Result {
    std::filesystem::path file;       // what to deliver
    std::string delivered_name;       // its name at the destination
    std::vector<std::string> journal; // lines to add before the file's own line
  };
  virtual std::optional<Result> Prepare(const class TCustomDossier& dossier, const std::filesystem::path& source,
                                        const std::filesystem::path& work_dir) = 0;
};

// Everything a run reaches outside its own settings, passed in by the caller.
struct EngineServices {
  const MessageCatalog* catalog = nullptr;  // null: every text empty
  const platform::Clock* clock = nullptr;   // null: the system clock
  StatusDisplay* status = nullptr;          // null: nothing shown
  JournalSink* journal_sink = nullptr;      // null: lines go only to the file
  DeliverySteps* steps = nullptr;           // null: the folder's own plug-in, ZIP and container steps
  std::filesystem::path program_dir;        // plug-ins
  std::filesystem::path logs_dir;           // journals and calendars
  // Intermediate files: each run that needs some makes a folder of its own
  // below this one and removes it when it ends, however it ends.
  std::filesystem::path work_dir;
  platform::NetworkRoot network_root;
  std::string computer_name;
};

// Where a purge lists and deletes archives (engine/purge.h).
class ArchiveSource;
// What became of one file of the copy phase.
enum class Traitement {
  Pret,      // staged for delivery
  Echec,     // a step or the copy failed: reported, tried again by the next run
  Ignore,    // the plug-in produced nothing for it: not delivered, not an error
  Suspendu,  // a suspension request left it for the next run
};

// One file the scan selected.
struct FichierSelectionne {
  std::string chemin;              // scan directory text followed by the name
  std::filesystem::path local;     // where it is read
  std::string repertoire;          // its scan directory text (ends with "/")
  std::uint64_t taille = 0;
  // Whether its copy's name was taken when the scan looked (a local
  // destination with NewFic set): spares the copy a look of its own.
  std::optional<bool> copie_existe;
};

class TCustomDossier {
 public:
  explicit TCustomDossier(EngineServices services);
  TCustomDossier(const TCustomDossier&) = delete;
  TCustomDossier& operator=(const TCustomDossier&) = delete;

  // ---- setters
  void SetNom(std::string v) { nom_ = std::move(v); }
  void SetFichierIni(std::filesystem::path v) { fichier_ini_ = std::move(v); }
  void SetDestination(std::string v) { destination_ = std::move(v); }
  void SetOrigine(std::string v) { origine_ = std::move(v); }
  void SetLastSave(platform::DateTime v) { last_save_ = v; }
  void SetDelaiSauve(std::int32_t v);
  void SetNBMaxFicMin(std::int32_t v);
  void SetNBMaxFic(std::int32_t v);
  void SetVolumeMax(std::int64_t megabytes) { volume_max_ = megabytes * 1000000; }
  void SetLimites(bool v) { limites_ = v; }
  void SetPlugInn(std::string v);
  void SetCrypte(bool v) { crypte_ = v; }
  void SetCompresse(bool v) { compresse_ = v; }
  void SetFTP(bool v) { ftp_ = v; }
  void SetSousRep(bool v) { sous_rep_ = v; }
  void SetJournal(bool v) { journal_ = v; }
  void SetNewFic(bool v) { new_fic_ = v; }
  void SetFTPUser(std::string v) { ftp_user_ = std::move(v); }
  void SetFTPPass(std::string v) { ftp_pass_ = std::move(v); }
  void SetCryptage(std::string v) { cryptage_ = std::move(v); }
  void SetPasswordZip(std::string v) { password_zip_ = std::move(v); }
  void SetTauxZip(std::int32_t v) { taux_zip_ = v; }
  void SetNbJoursValideZip(std::int32_t v) { nb_jours_valide_zip_ = v; }
  void SetDelaiMiroir(std::int32_t v) { delai_miroir_ = v; }
  void SetTypeSauve(std::int32_t v) { type_sauve_ = v; }

  // ---- getters
  const std::string& Nom() const { return nom_; }
  const std::filesystem::path& FichierIni() const { return fichier_ini_; }
  const std::string& Destination() const { return destination_; }
  const std::string& Origine() const { return origine_; }
  platform::DateTime LastSave() const { return last_save_; }
  std::int32_t DelaiSauve() const { return delai_sauve_; }
  std::int32_t NBMaxFic() const { return nb_max_fic_; }
  std::int32_t NBMaxFicMin() const { return nb_max_fic_min_; }
  std::int32_t MaxFichiers() const { return max_fichiers_; }
  std::int64_t VolumeMax() const { return volume_max_; }
  bool Limites() const { return limites_; }
  bool AvecPlugInn() const { return avec_plug_inn_; }
  const std::string& PlugInn() const { return plug_inn_; }
  const std::string& DllPlugInn() const { return dll_plug_inn_; }
  bool Crypte() const { return crypte_; }
  bool Compresse() const { return compresse_; }
  bool FTP() const { return ftp_; }
  bool SousRep() const { return sous_rep_; }
  bool Journal() const { return journal_; }
  bool NewFic() const { return new_fic_; }
  const std::string& FTPUser() const { return ftp_user_; }
  const std::string& FTPPass() const { return ftp_pass_; }
  const std::string& Cryptage() const { return cryptage_; }
  const std::string& PasswordZip() const { return password_zip_; }
  std::int32_t TauxZip() const { return taux_zip_; }
  std::int32_t NbJoursValideZip() const { return nb_jours_valide_zip_; }
  std::int32_t DelaiMiroir() const { return delai_miroir_; }
  std::int32_t TypeSauve() const { return type_sauve_; }
  const std::vector<std::string>& FichiersMiroir() const { return fichiers_miroir_; }
  const std::vector<std::string>& ArchivesInvalides() const { return archives_invalides_; }
  int CodeErreur() const { return code_erreur_; }
  bool DejaEnCours() const { return deja_en_cours_; }
  bool Suspendu() const { return suspendu_; }
  std::int64_t VolumeSelectionne() const { return volume_selectionne_; }
  const std::vector<FichierSelectionne>& FichiersSelectionnes() const { return selection_; }
  std::vector<std::string> CheminsSelectionnes() const;
  const RunJournal& Journaux() const { return journal_file_; }
  const EngineServices& Services() const { return services_; }

  // ---- the runs
  void LanceSauvegarde();
  void LanceArchivage();
  void LanceMiroir();
  void LanceEffaceArchives();
  // What a worker thread does when a run ends by an error: a journal line
  // saying so, the status keys back to "0" (Encours only when this run set
  // it), the calendar block. Never throws.
  void TermineApresErreur(std::string_view what);

  // ---- pieces of the run, public for the other runs and for tests
  void ScanOrigine();
  // Recursive walk of one scan directory; true when the walk must stop.
  bool ScanRepertoire(const std::string& dir_text, const std::filesystem::path& dir_local);
  void SelectionFichier(const std::string& dir_text, const std::filesystem::path& dir_local,
                        const platform::DirEntry& entry);
  bool FiltreExtension(std::string_view extension_with_dot) const;
  // The same rule on a settings content already read for this file.
  static bool FiltreExtension(const platform::IniDocument& doc, std::string_view extension_with_dot);
  bool ExisteDestination(const std::filesystem::path& candidate) const;
  // Destination directory text of a scan directory (ends with "/").
  std::string RepertoireDestination(std::string_view scan_dir) const;
  // Candidate destination path of a file of a scan directory.
  std::filesystem::path CheminDestination(std::string_view scan_dir, std::string_view name) const;
  void CopieFichiers();
  // One file, all steps but the last: its copy is staged beside its
  // destination, for the caller to give it its name. Journal lines of its
  // steps go to `lignes`, written before the file's own line. The caller
  // has looked for a suspension request first.
  Traitement TraiteFichier(const FichierSelectionne& f, const std::string& dest_dir_text, platform::StagedCopy& staged,
                           std::vector<std::string>& lignes);
  // The plug-in step: every "*.so" of the program folder whose signature is
  // PlugInn is called on `f`; the derived file's path, or nothing.
  std::optional<std::filesystem::path> EtapePlugIn(const std::filesystem::path& f);
  // Writes the container of `f` at `container`; false, with nothing
  // written, when a suspension request came first. Throws ContainerError.
  bool CrypteFichier(const std::filesystem::path& f, const std::filesystem::path& container);
  // The archive run's delivery phase: one archive of every selected file.
  void CreeArchive();
  // This run's private folder for intermediate files, made at first use.
  // Throws when it cannot be made.
  const std::filesystem::path& DossierTravail();
  void CreeArborescence(const std::filesystem::path& dir);
  void VerifieChemin(const std::string& path);
  bool EstDistant(std::string_view path) const;
  // Mirror: the destination files whose source is gone, past the grace period.
  void ListeMiroir();
  // Purge: the folder's archives past their validity, from the destination
  // folder (the local one when no source is given).
  void ListeArchivesInvalides();
  void ListeArchivesInvalides(ArchiveSource& source);
  int TesteConnexionReseau(std::string_view path) const;

  // Suspension requests, consumed in one locked step.
  bool TesteSuspension();
  void EcritSuspension(bool value);

  void AfficheEtat(std::string_view icon, std::string_view catalog_key);
  void AjouteLigne(std::string_view line);

  // Where a path text is read and written (network paths resolved).
  std::filesystem::path Local(std::string_view path_text) const;

  // ---- FTP destination (engine/ftp.cpp)
  // The host text before the first "/" of the destination ("host" or
  // "host:port").
  std::string HoteFTP() const;
  // A path text in its server form: backslashes turned into "/", what
  // follows the first "/"; empty (the server's root) when there is none.
  static std::string CheminFTP(std::string_view text);
  // A connected and logged-in client for the folder's server; null when the
  // host text is not a host or the connection or login failed.
  std::unique_ptr<ftp::Client> ConnexionFTP() const;
  // The copy phase's connection (ClientFTP): opened, false when that failed;
  // closed (QUIT) and released.
  bool OuvreClientFTP();
  void FermeClientFTP();
  ftp::Client* ClientFTP() const { return client_ftp_.get(); }
  // Fills FichiersFTP from the destination tree; CodeErreur 10038 when the
  // server cannot be reached or the walk breaks.
  void ListeFTP();
  const std::vector<std::string>& FichiersFTP() const { return fichiers_ftp_; }
  // Uploads `file` as `name` into the remote folder of the origin's
  // subfolder `folder_part` ("" for the origin itself, "Sub/Deeper" below
  // it) over ClientFTP, retried once over a new connection. False, with an
  // "EchecTransfert" line, when both attempts failed.
  bool EnvoieFTP(const std::filesystem::path& file, const std::string& name, std::string_view folder_part);
  // Moves ClientFTP to the remote folder `dir`, creating what is missing;
  // nothing is sent while it is already there. Throws ftp::Error when the
  // folder can be neither entered nor created.
  void ChangeRepFTP(std::string_view dir);
  const std::string& RepFTPCourant() const { return rep_ftp_courant_; }
  // Rules on one line of a detailed listing.
  static bool EstRepertoireFTP(std::string_view line);
  static std::string NomFichierFTP(std::string_view line);  // empty: not a name
  bool DroitLectureFTP(std::string_view line);              // adds "ErreurReadAccess" when refused
  // For the purge: the names of the files in the destination folder itself,
  // over a connection of their own; nothing, with CodeErreur 10038, when
  // the connection failed (an absent folder has no files).
  std::optional<std::vector<std::string>> ListeNomsFTP();
  // Deletes the file `name` of the destination folder over a connection of
  // its own. False, with CodeErreur 10038, when the connection failed; a
  // refused deletion is not an error.
  bool EffaceFichierFTP(const std::string& name);
  void CopieFichiersFTP();

 private:
  const std::string& Text(std::string_view key) const;
  platform::DateTime Now() const;
  // The opening the mirror and the purge share: times, journal, status.
  enum class Bloc;
  void OuvreOperation(Bloc bloc, std::string_view journal_key);
  // The backup and archive runs: one skeleton, two deliveries.
  void LanceRun(bool archive);
  bool TakeEncours();
  void ReleaseStatusKeys();
  void WriteCalendarBlock(platform::DateTime end);
  void ReportPathCode();
  enum class MirrorWalk { Done, Stopped, OriginUnreadable };
  MirrorWalk MiroirRepertoire(const std::string& dest_dir, const std::filesystem::path& origin_dir, bool recursive,
                              bool top, platform::DateTime midnight);
  void EffaceArchives(ArchiveSource& source);
  // Removes this run's work folder with whatever it still holds.
  void RetireDossierTravail() noexcept;

  FolderSettings Settings() const { return FolderSettings(fichier_ini_); }
  bool ListeRepertoireFTP(ftp::Client& client, const std::string& path);

  EngineServices services_;

  std::string nom_;
  std::filesystem::path fichier_ini_;
  std::string destination_;
  std::string origine_;
  platform::DateTime last_save_;
  std::int32_t delai_sauve_ = 30;
  std::int32_t delai_miroir_ = 1;
  std::int32_t nb_max_fic_ = 300;
  std::int32_t nb_max_fic_min_ = 30;
  std::int32_t max_fichiers_ = 300;
  std::int64_t volume_max_ = 10000000;
  std::int64_t volume_selectionne_ = 0;
  bool limites_ = true;
  bool avec_plug_inn_ = false;
  std::string plug_inn_;
  std::string dll_plug_inn_;
  bool crypte_ = false;
  bool compresse_ = false;
  bool ftp_ = true;
  bool sous_rep_ = true;
  bool journal_ = true;
  bool new_fic_ = true;
  std::string ftp_user_, ftp_pass_, cryptage_, password_zip_;
  std::int32_t taux_zip_ = 0;
  std::int32_t nb_jours_valide_zip_ = 0;
  std::int32_t type_sauve_ = 0;

  int code_erreur_ = 0;
  bool deja_en_cours_ = false;
  bool suspendu_ = false;
  // When the settings file was last looked at for a request.
  std::optional<std::chrono::steady_clock::time_point> derniere_recherche_;
  bool encours_mine_ = false;
  bool started_ = false;
  std::vector<FichierSelectionne> selection_;
  RunJournal journal_file_;
  platform::DateTime debut_{};
  platform::DateTime transfert_{};
  platform::DateTime scan_start_{};
  std::string calendar_stamp_;
  std::filesystem::path last_created_dir_;
  // What the scan looks up once per directory rather than once per file:
  // the settings as they stand, and whether the destination folder is
  // missing (then no copy of its files exists).
  struct ScanDir {
    std::string dir_text;
    std::shared_ptr<const platform::IniDocument> doc;
    bool destination_absent = false;
  };
  std::optional<ScanDir> scan_dir_;
  ScanDir LookAtScanDir(const std::string& dir_text) const;
  std::vector<std::string> fichiers_miroir_;
  std::vector<std::string> archives_invalides_;
  // Which run's block the calendar gets, also when the run ends by an error.
  enum class Bloc { Sauvegarde, Miroir, Purge } bloc_ = Bloc::Sauvegarde;
  std::string rep_ftp_courant_;
  std::unique_ptr<ftp::Client> client_ftp_;
  std::vector<std::string> fichiers_ftp_;
  std::unordered_set<std::string> fichiers_ftp_index_;  // the same, for lookups
  std::filesystem::path run_work_dir_;
  platform::UniqueFd run_work_lock_;  // held while the work folder is in use
};

}  // namespace corvane
