// The mirror run: deletes from the destination the copies whose source is
// gone from the origin, once they are older than the grace period.
#include <algorithm>
#include <cerrno>

#include "engine/custom_dossier.h"

namespace corvane {
namespace {

std::string WithSlash(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// The name of the source a destination file was made from. Only the
// extensions this folder adds are taken off, and only when present: a copy
// left from before the folder compressed ("notes.txt" in a compressing
// folder) is compared under its own name, never under a cut one ("notes")
// that no source bears.
std::string_view NomSource(std::string_view name, bool compresse, bool crypte) {
  auto strip = [&](std::string_view ext) {
    if (name.size() > ext.size() && name.substr(name.size() - ext.size()) == ext) name.remove_suffix(ext.size());
  };
  if (crypte) strip(".ccv");
  if (compresse) strip(".zip");
  return name;
}

// Names of the origin folder's entries that are not folders, sorted.
bool OriginFiles(const std::filesystem::path& dir, bool top, std::vector<std::string>& names, bool& unreadable) {
  std::vector<platform::DirEntry> entries;
  auto r = platform::ListDirectory(dir, entries);
  if (!r.ok()) {
    // A subfolder the user removed leaves its copies orphaned; an origin
    // that cannot be read leaves nothing known about them.
    unreadable = top || (r.error != ENOENT && r.error != ENOTDIR);
    return !unreadable;
  }
  for (auto& e : entries)
    if (!e.is_directory) names.push_back(std::move(e.name));
  return true;  // ListDirectory sorts by name
}

}  // namespace

TCustomDossier::MirrorWalk TCustomDossier::MiroirRepertoire(const std::string& dest_dir,
                                                            const std::filesystem::path& origin_dir, bool recursive,
                                                            bool top, platform::DateTime midnight) {
  const auto dest_local = Local(dest_dir);
  // Temporaries of copies killed midway are ours to clear, whatever ages.
  platform::RemoveStaleTemporaries(dest_local);
  std::vector<platform::DirEntry> entries;
  if (dest_local.empty() || !platform::ListDirectory(dest_local, entries).ok()) return MirrorWalk::Done;
  std::vector<std::string> origin_files;
  bool unreadable = false;
  if (!OriginFiles(origin_dir, top, origin_files, unreadable)) return MirrorWalk::OriginUnreadable;
  const auto grace = std::chrono::hours(24) * std::max(delai_miroir_, 0);
  for (const auto& e : entries) {
    if (!e.is_directory && !e.hidden && midnight - e.modified > grace) {
      const std::string source(NomSource(e.name, compresse_, crypte_));
      if (!std::binary_search(origin_files.begin(), origin_files.end(), source))
        fichiers_miroir_.push_back(dest_dir + e.name);
    }
    if (TesteSuspension()) return MirrorWalk::Stopped;
  }
  if (!recursive) return MirrorWalk::Done;
  for (const auto& e : entries) {
    // A linked folder is not walked: it may lead back up, or anywhere.
    if (e.is_directory && !e.is_symlink) {
      auto r = MiroirRepertoire(dest_dir + e.name + "/", origin_dir / e.name, true, false, midnight);
      if (r != MirrorWalk::Done) return r;
      if (TesteSuspension()) return MirrorWalk::Stopped;
    }
  }
  AfficheEtat("Corv_4", "ScanMiroir");
  return MirrorWalk::Done;
}

void TCustomDossier::ListeMiroir() {
  if (journal_) AjouteLigne(Text("debutcptFic"));
  code_erreur_ = kErreurAucune;
  fichiers_miroir_.clear();
  const auto origin = Local(WithSlash(origine_));
  auto walk = MirrorWalk::OriginUnreadable;
  if (!origin.empty())
    walk = MiroirRepertoire(WithSlash(destination_), origin, sous_rep_, true, platform::StartOfDay(Now()));
  if (walk == MirrorWalk::OriginUnreadable) {
    // An origin that cannot be read must never pass for an empty one.
    fichiers_miroir_.clear();
    code_erreur_ = kErreurChemin;
    ReportPathCode();
    return;
  }
  if (walk == MirrorWalk::Done && journal_) AjouteLigne(Text("fincptFic"));
}

void TCustomDossier::LanceMiroir() {
  fichiers_miroir_.clear();
  OuvreOperation(Bloc::Miroir, "Miroir");

  // An archive's name never matches a source's: a mirror there would take
  // every archive for an orphan.
  const bool archive_folder = type_sauve_ > 3;
  bool reachable = false;
  if (!archive_folder) {
    VerifieChemin(origine_);
    const int origin_code = code_erreur_;
    if (ftp_) {
      // The mirror deletes only where it can list; an FTP server's text is
      // no folder here.
      code_erreur_ = kErreurChemin;
      ReportPathCode();
    } else {
      VerifieChemin(destination_);
    }
    reachable = origin_code == kErreurAucune && code_erreur_ == kErreurAucune;
    if (origin_code != kErreurAucune) code_erreur_ = origin_code;
  }
  if (reachable) ListeMiroir();
  // The origin must still be there when the deletions start: one unmounted
  // meanwhile would otherwise have made every copy look orphaned.
  if (!fichiers_miroir_.empty() && !platform::DirectoryExists(Local(origine_))) {
    fichiers_miroir_.clear();
    code_erreur_ = kErreurChemin;
    ReportPathCode();
  }
  for (const auto& path : fichiers_miroir_) {
    platform::DeleteFile(Local(path));  // a file that stays is still listed
    AjouteLigne(path);
  }
  AjouteLigne("");
  if (journal_) journal_file_.Close(Now(), suspendu_, Text("Suspension"), Text("FinJournal"));
  AfficheEtat("Corv_1", "Veille");
  ReleaseStatusKeys();
  WriteCalendarBlock(Now());
  started_ = false;
}

}  // namespace corvane
