// The purge of invalid archives of an archive folder.
#include "engine/purge.h"

#include <algorithm>
#include <array>
#include <limits>

#include "engine/custom_dossier.h"

namespace corvane {
namespace {

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

bool Digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

std::string WithSlash(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// The archives of the destination folder itself, aged by their last-write
// time from today's midnight.
class LocalArchiveSource final : public ArchiveSource {
 public:
  LocalArchiveSource(std::string dest_text, std::filesystem::path dest_local)
      : prefix_(WithSlash(std::move(dest_text))), dest_local_(std::move(dest_local)) {}

  bool Liste(std::string_view motif, const std::function<bool()>& stop, std::vector<ArchiveEntry>& out) override {
    std::vector<platform::DirEntry> entries;
    if (dest_local_.empty() || !platform::ListDirectory(dest_local_, entries).ok()) return false;
    const std::string_view extension = motif.substr(1);
    for (auto& e : entries) {
      if (e.is_directory || !EndsWith(e.name, extension)) continue;
      out.push_back({std::move(e.name), e.modified});
      if (stop()) break;
    }
    return true;
  }

  platform::DateTime Reference(platform::DateTime now) const override { return platform::StartOfDay(now); }

  std::string Entree(const std::string& name) const override { return prefix_ + name; }

  void Efface(const std::string& entree) override {
    if (entree.size() <= prefix_.size() || entree.compare(0, prefix_.size(), prefix_) != 0) return;
    platform::DeleteFile(dest_local_ / entree.substr(prefix_.size()));
  }

 private:
  std::string prefix_;
  std::filesystem::path dest_local_;
};

// An FTP destination folder: its names come from one listing over a
// connection of its own, each deletion over another, and an archive's age is
// read from the stamp in its name (servers give no reliable times).
class FtpArchiveSource final : public ArchiveSource {
 public:
  explicit FtpArchiveSource(TCustomDossier& dossier) : dossier_(dossier) {}

  bool Liste(std::string_view motif, const std::function<bool()>& stop, std::vector<ArchiveEntry>& out) override {
    auto names = dossier_.ListeNomsFTP();
    if (!names) return false;
    const std::string_view extension = motif.substr(1);
    for (auto& name : *names) {
      if (!EndsWith(name, extension)) continue;
      auto stamp = DateArchive(name, dossier_.Nom(), extension);
      if (!stamp) continue;
      out.push_back({std::move(name), *stamp});
      if (stop()) break;
    }
    return true;
  }

  platform::DateTime Reference(platform::DateTime now) const override { return now; }

  std::string Entree(const std::string& name) const override { return name; }

  void Efface(const std::string& entree) override { dossier_.EffaceFichierFTP(entree); }

 private:
  TCustomDossier& dossier_;
};

}  // namespace

std::string_view MotifArchives(bool crypte) { return crypte ? "*.zip.ccv" : "*.zip"; }

std::int32_t JoursValidite(std::int64_t position) {
  // 15, 30, 60, 90 days, six months, one year.
  static constexpr std::array<std::int32_t, 6> kLongues = {15, 30, 60, 90, 183, 365};
  if (position <= 0) return 0;
  if (position >= 11 && position <= 16) return kLongues[static_cast<std::size_t>(position - 11)];
  return static_cast<std::int32_t>(std::min<std::int64_t>(position, std::numeric_limits<std::int32_t>::max()));
}

std::optional<platform::DateTime> DateArchive(std::string_view name, std::string_view nom,
                                              std::string_view extension) {
  // nom "_" YYYY "_" MM "_" DD "_" HHMM extension
  constexpr std::size_t kStamp = 15;
  if (nom.empty() || name.size() != nom.size() + 1 + kStamp + extension.size()) return std::nullopt;
  if (name.substr(0, nom.size()) != nom || name[nom.size()] != '_' || !EndsWith(name, extension)) return std::nullopt;
  std::string_view s = name.substr(nom.size() + 1, kStamp);
  if (s[4] != '_' || s[7] != '_' || s[10] != '_') return std::nullopt;
  std::string_view year = s.substr(0, 4), month = s.substr(5, 2), day = s.substr(8, 2), hhmm = s.substr(11, 4);
  if (!Digits(year) || year[0] == '0' || !Digits(month) || !Digits(day) || !Digits(hhmm)) return std::nullopt;
  std::string text = std::string(day) + "/" + std::string(month) + "/" + std::string(year) + " " +
                     std::string(hhmm.substr(0, 2)) + ":" + std::string(hhmm.substr(2, 2));
  return platform::ParseDateTime(text);
}

std::vector<std::string> ChoisitArchivesInvalides(const std::vector<ArchiveEntry>& entries, std::string_view nom,
                                                  std::string_view motif, platform::DateTime reference,
                                                  std::int32_t validity_days) {
  std::vector<std::string> chosen;
  if (validity_days <= 0 || motif.size() < 2 || motif[0] != '*') return chosen;
  const std::string_view extension = motif.substr(1);
  // A name that leaves the folder, or a hidden one, is never an archive:
  // listings from a server are not to be trusted with paths.
  if (nom.empty() || nom[0] == '.' || nom.find_first_of("/\\") != std::string_view::npos) return chosen;
  const auto validity = std::chrono::hours(24) * validity_days;
  for (const auto& e : entries) {
    if (e.name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) continue;
    if (!DateArchive(e.name, nom, extension)) continue;
    if (reference - e.time > validity) chosen.push_back(e.name);
  }
  return chosen;
}

void TCustomDossier::ListeArchivesInvalides(ArchiveSource& source) {
  code_erreur_ = kErreurAucune;
  archives_invalides_.clear();
  // Only archive folders have archives; a backup folder's copies might
  // bear such a name and must stay.
  if (type_sauve_ <= 3) return;
  const std::string_view motif = MotifArchives(crypte_);
  std::vector<ArchiveEntry> entries;
  source.Liste(motif, [this] { return TesteSuspension(); }, entries);
  for (const auto& name : ChoisitArchivesInvalides(entries, nom_, motif, source.Reference(Now()), nb_jours_valide_zip_))
    archives_invalides_.push_back(source.Entree(name));
}

void TCustomDossier::ListeArchivesInvalides() {
  LocalArchiveSource source(destination_, Local(destination_));
  ListeArchivesInvalides(source);
}

void TCustomDossier::EffaceArchives(ArchiveSource& source) {
  ListeArchivesInvalides(source);
  for (const auto& entree : archives_invalides_) {
    source.Efface(entree);
    AjouteLigne(entree);
  }
}

void TCustomDossier::LanceEffaceArchives() {
  archives_invalides_.clear();
  OuvreOperation(Bloc::Purge, "DelZip");

  if (ftp_) {
    FtpArchiveSource source(*this);
    EffaceArchives(source);
  } else {
    VerifieChemin(origine_);
    VerifieChemin(destination_);
    // The listing starts afresh, but a destination that cannot be reached
    // stays the run's outcome: callers must not read it as a purge done.
    const int destination_code = code_erreur_;
    LocalArchiveSource source(destination_, Local(destination_));
    EffaceArchives(source);
    if (code_erreur_ == kErreurAucune) code_erreur_ = destination_code;
  }

  AjouteLigne("");
  if (journal_) journal_file_.Close(Now(), suspendu_, Text("Suspension"), Text("FinJournal"));
  AfficheEtat("Corv_1", "Veille");
  ReleaseStatusKeys();
  WriteCalendarBlock(Now());
  started_ = false;
}

}  // namespace corvane
