#include "engine/custom_dossier.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "engine/copy_ahead.h"
#include "platform/dynamic_library.h"
#include "platform/ini_file.h"
#include "support/container.h"
#include "support/zip_archive.h"

namespace corvane {
namespace {

const std::string kEmpty;

std::string WithSlash(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// Joins two path texts with exactly one "/".
std::string JoinOne(std::string_view a, std::string_view b) {
  std::string out(a);
  bool a_slash = !out.empty() && out.back() == '/';
  bool b_slash = !b.empty() && b.front() == '/';
  if (a_slash && b_slash) b.remove_prefix(1);
  else if (!a_slash && !b_slash) out += '/';
  out += b;
  return out;
}

// A boolean of a settings document, with the settings files' rule.
bool DocBool(const platform::IniDocument& doc, std::string_view section, std::string_view key, bool fallback) {
  const std::string* v = doc.Find(section, key);
  if (!v) return fallback;
  auto n = ParseSettingInteger(*v);
  return n ? *n != 0 : fallback;
}

// The extension of a file name with its dot ("" when it has none).
std::string_view ExtensionOf(std::string_view name) {
  auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

// Runs a clean-up when the scope ends, also when it ends by an exception.
template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

// "_2024_03_15_1430": the minute an archive was made, local time.
std::string ArchiveStamp(platform::DateTime t) {
  std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "_%d_%02d_%02d_%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min);
  return buf;
}

// A file the archive can still read: scans and archiving are apart in
// time, and one file gone meanwhile must not cost the whole archive.
bool StillReadable(const std::filesystem::path& p) {
  auto info = platform::GetFileInfo(p);
  return info && info->is_regular && ::access(p.c_str(), R_OK) == 0;
}

platform::DateTime DefaultLastSave() {
  if (auto t = platform::ParseDateTime("01/01/2001")) return *t;
  return {};
}

}  // namespace

TCustomDossier::TCustomDossier(EngineServices services)
    : services_(std::move(services)),
      last_save_(DefaultLastSave()),
      journal_file_(services_.logs_dir, "", services_.journal_sink) {}

void TCustomDossier::SetDelaiSauve(std::int32_t v) {
  delai_sauve_ = v;
  max_fichiers_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(nb_max_fic_min_) * v, nb_max_fic_));
}

void TCustomDossier::SetNBMaxFicMin(std::int32_t v) {
  nb_max_fic_min_ = v;
  max_fichiers_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(v) * delai_sauve_, nb_max_fic_));
}

void TCustomDossier::SetNBMaxFic(std::int32_t v) {
  nb_max_fic_ = v;
  max_fichiers_ = std::min(max_fichiers_, v);
}

void TCustomDossier::SetPlugInn(std::string v) {
  plug_inn_ = std::move(v);
  if (!plug_inn_.empty()) avec_plug_inn_ = true;
}

std::vector<std::string> TCustomDossier::CheminsSelectionnes() const {
  std::vector<std::string> paths;
  paths.reserve(selection_.size());
  for (const auto& f : selection_) paths.push_back(f.chemin);
  return paths;
}

const std::string& TCustomDossier::Text(std::string_view key) const {
  return services_.catalog ? services_.catalog->Text(key) : kEmpty;
}

platform::DateTime TCustomDossier::Now() const {
  return services_.clock ? services_.clock->Now() : std::chrono::system_clock::now();
}

void TCustomDossier::AfficheEtat(std::string_view icon, std::string_view catalog_key) {
  if (services_.status) services_.status->AfficheEtat(icon, TipText(Text(catalog_key)));
}

void TCustomDossier::AjouteLigne(std::string_view line) { journal_file_.Add(line); }

std::filesystem::path TCustomDossier::Local(std::string_view path_text) const {
  if (path_text.size() >= 2 && path_text[0] == '/' && path_text[1] == '/') {
    auto r = platform::ResolveNetworkPath(path_text, services_.network_root, services_.computer_name);
    if (r) return r->local;
    return {};  // not a usable network path: reaches nothing
  }
  return std::filesystem::path(path_text);
}

// ---------------------------------------------------------------- status keys

// Testing and setting the running mark is one step under the settings
// file's lock, so two runs of one folder started together in two processes
// cannot both go ahead.
bool TCustomDossier::TakeEncours() {
  bool already = false;
  bool ok = Settings().Update([&](platform::IniDocument& doc) {
    const std::string* v = doc.Find(kSectionParams, "Encours");
    if (v && *v == "1") {
      already = true;
      return false;
    }
    return doc.Set(kSectionParams, "Encours", "1");
  });
  if (already) return false;
  encours_mine_ = ok;
  return true;
}

void TCustomDossier::ReleaseStatusKeys() {
  Settings().Update([&](platform::IniDocument& doc) {
    bool changed = false;
    const std::string* s = doc.Find(kSectionParams, "Suspension");
    if (s && *s != "0") changed |= doc.Set(kSectionParams, "Suspension", "0");
    if (encours_mine_) changed |= doc.Set(kSectionParams, "Encours", "0");
    return changed;
  });
  encours_mine_ = false;
}

namespace {
constexpr std::chrono::microseconds kIntervalleRecherche{1000};
}  // namespace

bool TCustomDossier::TesteSuspension() {
  if (suspendu_) return true;
  // Runs look after every file and every entry, tens of thousands of times
  // a second on small files: a look less than a millisecond after one that
  // found nothing answers the same, which a person asking cannot tell from
  // a request written a moment later.
  const auto now = std::chrono::steady_clock::now();
  if (derniere_recherche_ && now - *derniere_recherche_ < kIntervalleRecherche) return false;
  derniere_recherche_ = now;
  // The cheap look first: most of the time there is no request, and nothing
  // needs writing.
  auto seen = platform::IniFile(fichier_ini_).Read(kSectionParams, "Suspension");
  if (!seen || *seen != "1") return false;
  // Consume it in one locked step so that a request written meanwhile by
  // someone else is not lost, and only one run takes it.
  Settings().Update([&](platform::IniDocument& doc) {
    const std::string* v = doc.Find(kSectionParams, "Suspension");
    if (!v || *v != "1") return false;
    suspendu_ = true;
    return doc.Set(kSectionParams, "Suspension", "0");
  });
  return suspendu_;
}

void TCustomDossier::EcritSuspension(bool value) {
  Settings().Update([&](platform::IniDocument& doc) { return doc.Set(kSectionParams, "Suspension", value ? "1" : "0"); });
}

// ---------------------------------------------------------------- reachability

bool TCustomDossier::EstDistant(std::string_view path) const {
  return platform::IsRemotePath(path, services_.computer_name);
}

int TCustomDossier::TesteConnexionReseau(std::string_view path) const {
  return platform::ProbeNetworkPath(path, services_.network_root);
}

void TCustomDossier::VerifieChemin(const std::string& path) {
  if (EstDistant(path)) {
    code_erreur_ = TesteConnexionReseau(path);
  } else {
    auto local = Local(path);
    code_erreur_ = !path.empty() && !local.empty() && platform::DirectoryExists(local) ? kErreurAucune : kErreurChemin;
  }
  ReportPathCode();
}

// The journal lines and status of a path test's code.
void TCustomDossier::ReportPathCode() {
  if (!journal_) {
    if (code_erreur_ != kErreurAucune && code_erreur_ != kErreurAccesRefuse && code_erreur_ != kErreurReseau)
      ReleaseStatusKeys();
    return;
  }
  auto two = [&](std::string_view key) {
    AjouteLigne(Text(key));
    AjouteLigne("");
  };
  if (code_erreur_ == kErreurReseau) two("ErreurReseau");
  if (code_erreur_ == kErreurAccesRefuse) two("ErreurReseauRefus");
  if (code_erreur_ == kErreurChemin) two("ErreurPath");
  if (code_erreur_ != kErreurAucune && code_erreur_ != kErreurAccesRefuse && code_erreur_ != kErreurReseau) {
    two("ErreurConnectReseau");
    ReleaseStatusKeys();
  }
}

// ---------------------------------------------------------------- scan

std::string TCustomDossier::RepertoireDestination(std::string_view scan_dir) const {
  std::string_view relative = scan_dir.size() >= origine_.size() ? scan_dir.substr(origine_.size()) : std::string_view();
  return WithSlash(JoinOne(destination_, relative));
}

std::filesystem::path TCustomDossier::CheminDestination(std::string_view scan_dir, std::string_view name) const {
  std::string p = RepertoireDestination(scan_dir);
  p += name;
  if (compresse_) p += ".zip";
  if (crypte_) p += ".ccv";
  return Local(p);
}

bool TCustomDossier::ExisteDestination(const std::filesystem::path& candidate) const {
  if (ftp_) return fichiers_ftp_index_.count(CheminFTP(candidate.string())) != 0;
  return !candidate.empty() && platform::FileExists(candidate);
}

bool TCustomDossier::FiltreExtension(std::string_view extension_with_dot) const {
  return FiltreExtension(*platform::IniFile(fichier_ini_).Snapshot(), extension_with_dot);
}

bool TCustomDossier::FiltreExtension(const platform::IniDocument& doc, std::string_view extension_with_dot) {
  std::string_view ext = extension_with_dot.empty() ? extension_with_dot : extension_with_dot.substr(1);
  auto entries = doc.Entries(kSectionExtensions);
  if (entries.empty()) return true;
  auto first = ParseSettingInteger(entries.front().second);
  bool selection_list = first && *first != 0;
  bool listed = std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.first == ext; });
  return selection_list ? listed : !listed;
}

void TCustomDossier::SelectionFichier(const std::string& dir_text, const std::filesystem::path& dir_local,
                                      const platform::DirEntry& entry) {
  (void)dir_local;
  const auto candidate = CheminDestination(dir_text, entry.name);
  std::optional<ScanDir> own;  // a call outside a scan looks for itself
  const ScanDir& here = scan_dir_ && scan_dir_->dir_text == dir_text ? *scan_dir_ : own.emplace(LookAtScanDir(dir_text));
  const auto& doc = here.doc;
  bool take = false;
  std::optional<bool> exists;
  if (new_fic_) exists = !here.destination_absent && ExisteDestination(candidate);
  if (exists && !*exists) {
    if (doc->Find(dir_text, entry.name))
      take = DocBool(*doc, dir_text, entry.name, new_fic_);
    else
      take = FiltreExtension(*doc, ExtensionOf(entry.name));
  } else {
    take = DocBool(*doc, dir_text, entry.name, new_fic_) && entry.modified > last_save_;
  }
  if (!take) return;
  const auto size = static_cast<std::int64_t>(entry.size);
  if (limites_ && (volume_selectionne_ + size >= volume_max_ ||
                   selection_.size() >= static_cast<std::size_t>(std::max(max_fichiers_, 0))))
    return;
  selection_.push_back({dir_text + entry.name, dir_local / entry.name, dir_text, entry.size, ftp_ ? std::nullopt : exists});
  volume_selectionne_ += size;
}

TCustomDossier::ScanDir TCustomDossier::LookAtScanDir(const std::string& dir_text) const {
  ScanDir d{dir_text, platform::IniFile(fichier_ini_).Snapshot(), false};
  if (new_fic_ && !ftp_) {
    const auto folder = Local(RepertoireDestination(dir_text));
    d.destination_absent = !folder.empty() && !platform::DirectoryExists(folder);
  }
  return d;
}

bool TCustomDossier::ScanRepertoire(const std::string& dir_text, const std::filesystem::path& dir_local) {
  std::vector<platform::DirEntry> entries;
  platform::ListDirectory(dir_local, entries);  // a folder that cannot be listed gives nothing
  scan_dir_ = LookAtScanDir(dir_text);
  for (const auto& e : entries) {
    // Only plain files are backed up: a FIFO or a device would hang or
    // flood the copy.
    if (!e.is_directory && e.is_regular) SelectionFichier(dir_text, dir_local, e);
    if (TesteSuspension()) {
      scan_dir_.reset();
      return true;
    }
  }
  scan_dir_.reset();
  for (const auto& e : entries) {
    // Linked folders are not followed: a link to a parent would never end.
    if (e.is_directory && !e.is_symlink) {
      if (ScanRepertoire(dir_text + e.name + "/", dir_local / e.name)) return true;
    }
    if (TesteSuspension()) return true;
  }
  AfficheEtat("Corv_3", "Scan");
  return false;
}

void TCustomDossier::ScanOrigine() {
  if (journal_) AjouteLigne(Text("debutcptFic"));
  AfficheEtat("Corv_3", "Scan");
  code_erreur_ = kErreurAucune;
  const std::string dir_text = WithSlash(origine_);
  const auto dir_local = Local(dir_text);
  if (sous_rep_) {
    ScanRepertoire(dir_text, dir_local);
  } else {
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(dir_local, entries);
    scan_dir_ = LookAtScanDir(dir_text);
    for (const auto& e : entries) {
      if (!e.is_directory && e.is_regular) SelectionFichier(dir_text, dir_local, e);
      if (TesteSuspension()) break;
    }
    scan_dir_.reset();
    if (suspendu_) return;
  }
  if (journal_) AjouteLigne(Text("fincptFic"));
}

// ---------------------------------------------------------------- copy

void TCustomDossier::CreeArborescence(const std::filesystem::path& dir) {
  // Files come grouped by folder: one creation per folder, not per file.
  if (dir == last_created_dir_) return;
  if (!platform::CreateDirectories(dir).ok()) return;
  last_created_dir_ = dir;
  // Before this run adds its own: the temporaries of copies killed midway
  // (a live writer's, another folder's run perhaps, stay).
  platform::RemoveStaleTemporaries(dir);
}

namespace {

constexpr const char* kRunFolderPrefix = "run-";
constexpr const char* kRunLock = ".lock";

// Work folders of runs that were killed: their lock is free (a lock dies
// with its process). A folder still without its lock may be a run's that is
// just starting, so it goes only once it is an hour old.
void SweepStaleRunFolders(const std::filesystem::path& root) {
  std::vector<platform::DirEntry> entries;
  platform::ListDirectory(root, entries);
  for (const auto& e : entries) {
    if (!e.is_directory || e.is_symlink || e.name.rfind(kRunFolderPrefix, 0) != 0) continue;
    const auto dir = root / e.name;
    platform::UniqueFd lock(::open((dir / kRunLock).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    bool stale = false;
    if (lock.get() >= 0) {
      stale = ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
    } else if (errno == ENOENT) {
      stale = std::chrono::system_clock::now() - e.modified > std::chrono::hours(1);
    }
    if (!stale) continue;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
}

}  // namespace

const std::filesystem::path& TCustomDossier::DossierTravail() {
  if (!run_work_dir_.empty()) return run_work_dir_;
  std::filesystem::path root =
      services_.work_dir.empty() ? std::filesystem::temp_directory_path() / "corvane3" : services_.work_dir;
  if (auto r = platform::CreateDirectories(root); !r.ok()) throw std::runtime_error(r.message);
  SweepStaleRunFolders(root);
  // Unique per run: two runs of one folder, or of two folders of one name,
  // never share an intermediate file.
  std::string templ = (root / (std::string(kRunFolderPrefix) + "XXXXXX")).string();
  if (!::mkdtemp(templ.data()))
    throw std::system_error(errno, std::generic_category(), "cannot create a work folder in " + root.string());
  run_work_dir_ = templ;
  run_work_lock_.Reset(::open((run_work_dir_ / kRunLock).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (run_work_lock_.get() < 0 || ::flock(run_work_lock_.get(), LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    RetireDossierTravail();
    throw std::system_error(err, std::generic_category(), "cannot lock a work folder in " + root.string());
  }
  return run_work_dir_;
}

void TCustomDossier::RetireDossierTravail() noexcept {
  if (run_work_dir_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(run_work_dir_, ec);
  run_work_dir_.clear();
  run_work_lock_.Close();
}

std::optional<std::filesystem::path> TCustomDossier::EtapePlugIn(const std::filesystem::path& f) {
  using SignatureFn = const char*();
  using EntreeFn = const char*(const char*);
  dll_plug_inn_.clear();
  std::string result;
  for (const auto& file : platform::ListLibraries(services_.program_dir)) {
    // Loaded and unloaded for every file: a plug-in replaced between two
    // files is the new one at the next file.
    auto lib = platform::DynamicLibrary::Load(file);
    if (!lib) continue;
    auto* signature = lib->Function<SignatureFn>("Signature");
    if (!signature) continue;
    std::string sig;
    try {
      const char* text = signature();
      if (!text) continue;
      sig = text;  // copied before the library goes
    } catch (...) {
      continue;
    }
    if (sig != plug_inn_) continue;
    dll_plug_inn_ = file.filename().string();
    if (auto* entree = lib->Function<EntreeFn>("Entree")) {
      try {
        if (const char* text = entree(f.c_str())) result = text;
      } catch (...) {
      }
    }
  }
  // The derived file lies beside the source by contract; an "extension"
  // holding a "/" would point elsewhere and name the delivery after it.
  if (result.empty() || result.find('/') != std::string::npos) return std::nullopt;
  std::filesystem::path derived = f;
  derived += "." + result;
  return derived;
}

bool TCustomDossier::CrypteFichier(const std::filesystem::path& f, const std::filesystem::path& container) {
  if (TesteSuspension()) return false;
  EncryptFileToContainer(f, cryptage_, container);
  return true;
}

Traitement TCustomDossier::TraiteFichier(const FichierSelectionne& f, const std::string& dest_dir_text,
                                         platform::StagedCopy& staged, std::vector<std::string>& lignes) {
  std::filesystem::path file = f.local;
  std::string name = std::filesystem::path(f.chemin).filename().string();
  if (services_.steps) {
    auto prepared = services_.steps->Prepare(*this, f.local, services_.work_dir);
    if (!prepared) return Traitement::Echec;
    for (auto& line : prepared->journal) lignes.push_back(std::move(line));
    file = prepared->file;
    name = prepared->delivered_name;
  } else if (avec_plug_inn_ || compresse_ || crypte_) {
    std::optional<std::filesystem::path> derived;
    if (avec_plug_inn_) {
      derived = EtapePlugIn(f.local);
      if (!derived) return Traitement::Ignore;
      lignes.push_back(plug_inn_);
      name = derived->filename().string();
      file = *derived;
    }
    // The derived file is the plug-in's; once zipped or encrypted it has
    // served its purpose.
    auto RemoveDerived = [](const std::optional<std::filesystem::path>& d) {
      std::error_code ec;
      if (d) std::filesystem::remove(*d, ec);
    };
    // Intermediate files live in the run's own folder under the names the
    // destination gets; the origin is only read.
    std::vector<std::filesystem::path> intermediates;
    ScopeExit remove_intermediates([&] {
      std::error_code ec;
      for (const auto& p : intermediates) std::filesystem::remove(p, ec);
    });
    // The last step writes straight into the temporary name of its
    // delivery, beside the destination, sparing a copy of every byte. The
    // writers make their own temporary and rename it onto this name, so it
    // is only chosen here, not created: a placeholder they replaced would be
    // one more deleted inode per file, which ext4 pays for at every create.
    auto stage_output = [&](const std::string& delivered) -> std::optional<platform::StagedCopy> {
      auto target = Local(dest_dir_text + delivered);
      if (target.empty()) return std::nullopt;
      thread_local std::mt19937_64 rng{(std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()};
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, ".corvane-%012llx", static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
      // Removed unless committed, whatever the writer left under it.
      return platform::StagedCopy((target.parent_path() / ("." + delivered + suffix)).string(), target);
    };
    // The delivery takes the source's permission bits, as a plain copy does.
    auto keep_mode = [&](const platform::StagedCopy& out) {
      struct stat st;
      if (::stat(f.local.c_str(), &st) == 0) ::chmod(out.temp().c_str(), st.st_mode & 0777);
    };
    try {
      if (compresse_) {
        name += ".zip";
        if (!crypte_) {
          auto out = stage_output(name);
          if (!out) return Traitement::Echec;
          AddFilesToZip(out->temp(), {file}, {taux_zip_, true, password_zip_, true});
          keep_mode(*out);
          staged = std::move(*out);
          RemoveDerived(derived);
          return Traitement::Pret;
        }
        auto zip = DossierTravail() / name;
        intermediates.push_back(zip);
        AddFilesToZip(zip, {file}, {taux_zip_, true, password_zip_, true});
        file = zip;
      }
      if (crypte_) {
        name += kContainerExtension;
        auto out = stage_output(name);
        if (!out) return Traitement::Echec;
        if (!CrypteFichier(file, out->temp())) return Traitement::Suspendu;
        keep_mode(*out);
        staged = std::move(*out);
        RemoveDerived(derived);
        return Traitement::Pret;
      }
    } catch (const std::exception&) {
      // A file that cannot be zipped or encrypted is not delivered; the run
      // goes on with the others.
      return Traitement::Echec;
    }
  }
  auto target = Local(dest_dir_text + name);
  if (target.empty()) return Traitement::Echec;
  // The scan's look at the name holds only for the file's own name.
  const bool own_name = !compresse_ && !crypte_ && name == std::filesystem::path(f.chemin).filename().string();
  return platform::StageCopy(file, target, staged, platform::StagingKind::Any,
                             own_name ? f.copie_existe : std::nullopt)
                 .ok()
             ? Traitement::Pret
             : Traitement::Echec;
}

namespace {

// Copies that replace a file are flushed together with one call before
// they take their names: each replaced name holds a whole file even after
// a power cut, without one flush per file. A copy onto a free name needs
// no flush first: LastSave only moves after the flush at the end of the
// copy, so a file a power cut left short is copied again.
constexpr std::size_t kBatchFiles = 256;
constexpr std::uint64_t kBatchBytes = 256ull << 20;
// How far ahead a second core stages plain copies, and of what size.
constexpr std::size_t kAheadFiles = 32;
constexpr std::uint64_t kAheadBytes = 1ull << 20;

bool FlushBatch(const std::vector<const platform::StagedCopy*>& copies) {
  std::vector<const platform::StagedCopy*> replacing;
  for (const auto* c : copies)
    if (c->replaces()) replacing.push_back(c);
  if (replacing.empty()) return true;
  if (platform::FlushFileSystem(replacing.front()->destination().parent_path()).ok()) return true;
  // A file system that cannot be flushed as a whole: one file at a time.
  for (const auto* c : replacing)
    if (!c->Flush().ok()) return false;
  return true;
}

// Writes delivered data out while the copy goes on, on a thread of its
// own that mostly waits for the disk, so that the flush the run must end
// with finds little left to do. Without a thread the run only waits longer.
class FlushAhead {
 public:
  static constexpr std::uint64_t kEvery = 32ull << 20;

  explicit FlushAhead(std::filesystem::path dir) : dir_(std::move(dir)) {}
  ~FlushAhead() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  FlushAhead(const FlushAhead&) = delete;
  FlushAhead& operator=(const FlushAhead&) = delete;

  void Delivered(std::uint64_t bytes) {
    since_ += bytes;
    if (since_ < kEvery) return;
    since_ = 0;
    try {
      if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
      return;
    }
    {
      std::lock_guard lock(m_);
      pending_ = true;
    }
    cv_.notify_one();
  }

 private:
  void Loop() {
    std::unique_lock lock(m_);
    for (;;) {
      cv_.wait(lock, [this] { return pending_ || stop_; });
      if (stop_) return;
      pending_ = false;
      lock.unlock();
      platform::FlushFileSystem(dir_);  // only ahead of time: the run's own flush decides
      lock.lock();
    }
  }

  std::filesystem::path dir_;
  std::uint64_t since_ = 0;
  std::mutex m_;
  std::condition_variable cv_;
  bool pending_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace

void TCustomDossier::CopieFichiers() {
  if (ftp_) {
    CopieFichiersFTP();
    return;
  }
  AfficheEtat("Corv_2", "Copie");
  bool every_file_delivered = true;
  struct Pending {
    const FichierSelectionne* file;
    Traitement outcome;
    platform::StagedCopy copy;
    std::vector<std::string> lignes;
    std::optional<bool> delivered;  // set when it took its name at once
  };
  std::vector<Pending> batch;
  std::uint64_t batch_bytes = 0;
  FlushAhead flush_ahead(Local(WithSlash(destination_)));
  // Delivers the staged copies and writes their lines; the last one's line
  // is left out when a suspension request stopped the loop after it.
  auto deliver = [&](bool stopped) {
    std::vector<const platform::StagedCopy*> staged;
    for (const auto& p : batch)
      if (p.copy.staged()) staged.push_back(&p.copy);
    const bool flushed = FlushBatch(staged);
    for (std::size_t i = 0; i < batch.size(); ++i) {
      Pending& p = batch[i];
      const bool skipped = p.outcome == Traitement::Ignore;
      const bool ok = skipped || (p.delivered ? *p.delivered
                                              : p.outcome == Traitement::Pret && p.copy.staged() && flushed &&
                                                    p.copy.Commit().ok());
      if (stopped && i + 1 == batch.size()) break;
      for (const auto& line : p.lignes) AjouteLigne(line);
      if (!ok) {
        AjouteLigne(Text("EchecTransfert"));
        every_file_delivered = false;
      }
      AjouteLigne(p.file->chemin);
    }
    flush_ahead.Delivered(batch_bytes);
    batch.clear();
    batch_bytes = 0;
  };
  // Plain copies of small files are staged ahead on a second core, only
  // within the folder being delivered: no folder is made for a file before
  // its turn, and a file big enough for a suspension request to arrive
  // during its copy is only ever copied in its turn.
  const bool plain = !services_.steps && !avec_plug_inn_ && !compresse_ && !crypte_;
  CopyAhead ahead;
  bool ahead_runs = plain;
  std::size_t looked_ahead = 0;  // files before this one were offered or passed over
  for (std::size_t i = 0; i < selection_.size(); ++i) {
    const FichierSelectionne& f = selection_[i];
    const std::string dest_dir = RepertoireDestination(f.repertoire);
    CreeArborescence(Local(dest_dir));
    if (ahead_runs) {
      for (std::size_t j = std::max(looked_ahead, i + 1); j < selection_.size() && j <= i + kAheadFiles; ++j) {
        const FichierSelectionne& g = selection_[j];
        if (g.repertoire != f.repertoire) break;
        looked_ahead = j + 1;
        if (g.taille > kAheadBytes) continue;
        auto target = Local(dest_dir + std::filesystem::path(g.chemin).filename().string());
        if (target.empty()) continue;
        if (!ahead.Offer(j, {g.local, std::move(target), g.copie_existe})) {
          ahead_runs = false;
          break;
        }
      }
    }
    Pending p{&f, Traitement::Echec, {}, {}, std::nullopt};
    std::optional<CopyAhead::Result> staged_ahead;
    if (TesteSuspension())
      p.outcome = Traitement::Suspendu;
    else if ((staged_ahead = ahead.Take(i)))
      p.outcome = staged_ahead->ok ? (p.copy = std::move(staged_ahead->copy), Traitement::Pret) : Traitement::Echec;
    else
      p.outcome = TraiteFichier(f, dest_dir, p.copy, p.lignes);
    // A copy onto a free name has nothing to wait for: named now, it frees
    // its descriptor and spreads the naming over the copy.
    if (p.outcome == Traitement::Pret && p.copy.staged() && !p.copy.replaces()) p.delivered = p.copy.Commit().ok();
    batch.push_back(std::move(p));
    batch_bytes += f.taille;
    if (TesteSuspension()) {
      // LastSave stays: the rest waits for the next run.
      deliver(true);
      return;
    }
    if (batch.size() >= kBatchFiles || batch_bytes >= kBatchBytes) deliver(false);
  }
  deliver(false);
  // A file whose delivery failed must be tried again by the next run, so
  // LastSave only moves when everything went through, and only once the
  // new names themselves are on disk.
  if (!every_file_delivered) return;
  if (!selection_.empty() && !platform::FlushFileSystem(Local(WithSlash(destination_))).ok()) return;
  FolderSettings s = Settings();
  s.WriteDateTime(kSectionParams, "LastSave", scan_start_);
  if (!selection_.empty()) s.WriteString(kSectionParams, "Sauvegarde reelle", "1");
}

// ---------------------------------------------------------------- the run

void TCustomDossier::WriteCalendarBlock(platform::DateTime end) {
  std::string prefix = "Dossier " + nom_;
  if (bloc_ == Bloc::Miroir) {
    EcritCalendrier(services_.logs_dir, calendar_stamp_,
                    {prefix + " : Début Miroir " + platform::FormatTime(debut_),
                     prefix + " : Fin Miroir   " + platform::FormatTime(end), ""});
    return;
  }
  if (bloc_ == Bloc::Purge) {
    EcritCalendrier(services_.logs_dir, calendar_stamp_,
                    {prefix + " : Début Efface Archives invalides   " + platform::FormatTime(debut_),
                     prefix + " : Fin efface archives invalides   " + platform::FormatTime(end), ""});
    return;
  }
  EcritCalendrier(services_.logs_dir, calendar_stamp_,
                  {prefix + " : Détection " + platform::FormatTime(debut_),
                   prefix + " : Transfert " + platform::FormatTime(transfert_),
                   prefix + " : Fin       " + platform::FormatTime(end), ""});
}

void TCustomDossier::OuvreOperation(Bloc bloc, std::string_view journal_key) {
  code_erreur_ = kErreurAucune;
  bloc_ = bloc;
  started_ = true;
  debut_ = Now();
  calendar_stamp_ = DateJour(debut_);
  suspendu_ = false;
  journal_file_ = RunJournal(services_.logs_dir, nom_, services_.journal_sink);
  if (journal_) journal_file_.Open(debut_, Text(journal_key));
}

void TCustomDossier::LanceSauvegarde() { LanceRun(false); }

// The archive run: the backup run's skeleton, with one archive of every
// selected file as its delivery.
void TCustomDossier::LanceArchivage() { LanceRun(true); }

void TCustomDossier::LanceRun(bool archive) {
  code_erreur_ = kErreurAucune;
  if (!TakeEncours()) {
    deja_en_cours_ = true;
    return;
  }
  started_ = true;
  ScopeExit work_folder([this] { RetireDossierTravail(); });
  debut_ = Now();
  transfert_ = debut_;
  calendar_stamp_ = DateJour(debut_);
  suspendu_ = false;
  volume_selectionne_ = 0;
  journal_file_ = RunJournal(services_.logs_dir, nom_, services_.journal_sink);
  if (journal_) journal_file_.Open(debut_, Text("Sauve"));

  VerifieChemin(origine_);
  if (!ftp_ && code_erreur_ == kErreurAucune) VerifieChemin(destination_);
  // An FTP listing that fails ends the run before its scan; the running
  // mark is cleared at the end as for every other outcome.
  if (ftp_ && code_erreur_ == kErreurAucune) {
    ListeFTP();
    if (code_erreur_ != kErreurAucune) {
      AjouteLigne(Text("ErreurFtp"));
      AjouteLigne("");
    }
  }
  selection_.clear();
  if (code_erreur_ == kErreurAucune) {
    scan_start_ = Now();
    ScanOrigine();
  }
  transfert_ = Now();
  if (code_erreur_ == kErreurAucune) {
    if (!archive) CopieFichiers();
    else if (!selection_.empty() && !suspendu_) CreeArchive();
  }
  if (journal_) journal_file_.Close(Now(), suspendu_, Text("Suspension"), Text("FinJournal"));
  AfficheEtat("Corv_1", "Veille");
  ReleaseStatusKeys();
  WriteCalendarBlock(Now());
  started_ = false;
}

void TCustomDossier::CreeArchive() {
  const std::string name = nom_ + ArchiveStamp(Now()) + ".zip";
  AfficheEtat("Corv_2", "Copie");
  // The server is reached before anything is built: no archive is made for
  // a destination that cannot take it.
  if (ftp_ && !OuvreClientFTP()) {
    if (journal_) AjouteLigne(Text("ErreurFtp"));
    code_erreur_ = kErreurConnexionFtp;
    return;
  }
  ScopeExit ftp_client([this] { FermeClientFTP(); });
  auto failed = [&](const std::string& what) {
    AjouteLigne(Text("EchecTransfert"));
    AjouteLigne(what);
  };
  // Files gone since the scan are left out, each with its line, rather
  // than failing the whole archive; LastSave then stays for them.
  bool every_file = true;
  std::vector<std::filesystem::path> files;
  files.reserve(selection_.size());
  for (const auto& f : selection_) {
    if (StillReadable(f.local)) {
      files.push_back(f.local);
    } else {
      failed(f.chemin);
      every_file = false;
    }
  }
  // Built in the run's own folder: a file of the origin that bears the
  // archive's name is never touched.
  std::filesystem::path archive = DossierTravail() / name;
  std::string delivered = name;
  try {
    if (files.empty()) throw ZipError("no file left to archive");
    AddFilesToZip(archive, files, {taux_zip_, true, password_zip_});
    if (crypte_) {
      std::filesystem::path container = archive;
      container += kContainerExtension;
      const bool written = CrypteFichier(archive, container);
      std::error_code ec;
      std::filesystem::remove(archive, ec);
      if (!written) return;  // suspended: nothing delivered, LastSave stays
      archive = container;
      delivered += kContainerExtension;
    }
  } catch (const std::exception&) {
    code_erreur_ = kErreurArchive;
    failed(delivered);
    AjouteLigne("");
    return;
  }
  bool ok = false;
  if (ftp_) {
    // Into the destination folder itself; a failure there writes its own
    // lines.
    ok = EnvoieFTP(archive, delivered, "");
  } else {
    const auto target = Local(JoinOne(destination_, delivered));
    ok = !target.empty() && platform::CopyFileReplacing(archive, target).ok();
    if (!ok) failed(delivered);
  }
  std::error_code ec;
  std::filesystem::remove(archive, ec);
  if (ok && every_file) {
    FolderSettings s = Settings();
    s.WriteDateTime(kSectionParams, "LastSave", scan_start_);
    s.WriteString(kSectionParams, "Sauvegarde reelle", "1");
  }
  AjouteLigne("");
}

void TCustomDossier::TermineApresErreur(std::string_view what) {
  if (!started_) {
    // Failed before it took the running mark: nothing of this run to undo
    // but a mark it might hold.
    try {
      if (encours_mine_) ReleaseStatusKeys();
    } catch (...) {
    }
    return;
  }
  started_ = false;
  try {
    std::string line = Text("ErreurSauvegarde");
    if (!line.empty()) line += ' ';
    line += what;
    AjouteLigne(line);
    if (journal_file_.is_open()) journal_file_.Close(Now(), suspendu_, Text("Suspension"), Text("FinJournal"));
  } catch (...) {
  }
  try {
    AfficheEtat("Corv_1", "Veille");
  } catch (...) {
  }
  try {
    ReleaseStatusKeys();
  } catch (...) {
  }
  try {
    WriteCalendarBlock(Now());
  } catch (...) {
  }
}

}  // namespace corvane
