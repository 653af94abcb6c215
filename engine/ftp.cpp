// The FTP destination of the backup folder: the listing of what the server
// holds, the uploads of the copy phase, and the pieces the archive run and
// the purge use.
#include <algorithm>
#include <cctype>
#include <system_error>

#include "engine/custom_dossier.h"

namespace corvane {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// A listed name that stays inside the folder it was listed in.
bool SafeName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\\') == std::string_view::npos;
}

std::vector<std::string> SplitParts(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    auto slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > start) parts.emplace_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// The prefix of the names listed in a folder of server path `path`.
std::string ListingPrefix(std::string_view path) {
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  std::string p(path);
  if (!p.empty() && p.back() != '/') p += '/';
  return p;
}

// A command whose refusal changes nothing for the caller.
template <typename F>
void IgnoreRefusal(F&& f) {
  try {
    f();
  } catch (const ftp::Error& e) {
    if (!e.refused()) throw;
  }
}

}  // namespace

std::string TCustomDossier::HoteFTP() const {
  auto slash = destination_.find('/');
  return slash == std::string::npos ? destination_ : destination_.substr(0, slash);
}

std::string TCustomDossier::CheminFTP(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), '\\', '/');
  auto slash = s.find('/');
  // A destination that is a host alone is the server's root, not a folder
  // named after the host.
  return slash == std::string::npos ? std::string() : s.substr(slash + 1);
}

std::unique_ptr<ftp::Client> TCustomDossier::ConnexionFTP() const {
  // A host text that would change the meaning of a URL ("user@host",
  // "host?x") is refused here, as a failed connection.
  auto endpoint = ftp::ParseEndpoint(HoteFTP());
  if (!endpoint) return nullptr;
  ftp::Settings s;
  s.endpoint = *endpoint;
  s.user = ftp_user_;
  s.password = ftp_pass_;
  auto client = std::make_unique<ftp::Client>(std::move(s));
  try {
    client->Connect();
  } catch (const ftp::Error&) {
    return nullptr;
  }
  return client;
}

bool TCustomDossier::OuvreClientFTP() {
  client_ftp_ = ConnexionFTP();
  rep_ftp_courant_.clear();
  return client_ftp_ != nullptr;
}

void TCustomDossier::FermeClientFTP() {
  if (client_ftp_) client_ftp_->Disconnect();
  client_ftp_.reset();
  rep_ftp_courant_.clear();
}

// ---------------------------------------------------------------- listing lines

bool TCustomDossier::EstRepertoireFTP(std::string_view line) {
  line = Trim(line);
  return !line.empty() && (line.front() == 'd' || line.front() == 'D');
}

std::string TCustomDossier::NomFichierFTP(std::string_view line) {
  line = Trim(line);
  // Eight fields before the name, which may hold blanks. A shorter line (a
  // "total" summary) has no name.
  for (int i = 0; i < 8; ++i) {
    auto blank = line.find(' ');
    if (blank == std::string_view::npos) return {};
    line = Trim(line.substr(blank + 1));
  }
  return std::string(line);
}

bool TCustomDossier::DroitLectureFTP(std::string_view line) {
  line = Trim(line);
  const bool readable_mark = line.size() >= 2 && (line[1] == 'r' || line[1] == 'R');
  if (journal_ && !readable_mark) AjouteLigne(Text("ErreurReadAccess"));
  return readable_mark && line.size() >= 8;
}

// ---------------------------------------------------------------- the listing

// Lists the current folder, of server path `path`, and its subfolders;
// true when a suspension request ended the walk. Connection errors and
// refused moves into subfolders are thrown to ListeFTP.
bool TCustomDossier::ListeRepertoireFTP(ftp::Client& client, const std::string& path) {
  std::vector<std::string> lines;
  IgnoreRefusal([&] { lines = client.List(); });
  const std::string prefix = ListingPrefix(path);
  for (const auto& line : lines) {
    if (!EstRepertoireFTP(line)) {
      std::string name = NomFichierFTP(line);
      if (SafeName(name)) {
        fichiers_ftp_.push_back(prefix + name);
        fichiers_ftp_index_.insert(fichiers_ftp_.back());
      }
    }
    if (TesteSuspension()) return true;
  }
  if (!lines.empty() && DroitLectureFTP(lines.front())) {
    for (const auto& line : lines) {
      if (!EstRepertoireFTP(line)) continue;
      std::string name = NomFichierFTP(line);
      if (!SafeName(name) || name.front() == '.' || EqualsNoCase(name, "HOME")) continue;
      client.Cwd(name);
      const std::string here = client.Pwd();
      if (ListeRepertoireFTP(client, here)) return true;
      if (TesteSuspension()) return true;
    }
  }
  // Some servers refuse CDUP at their root; the walk does not need it there.
  IgnoreRefusal([&] { client.Cdup(); });
  return false;
}

void TCustomDossier::ListeFTP() {
  if (journal_) AjouteLigne(Text("debutcptFicFtp"));
  AfficheEtat("Corv_3", "Scan");
  fichiers_ftp_.clear();
  fichiers_ftp_index_.clear();
  auto client = ConnexionFTP();
  if (!client) {
    code_erreur_ = kErreurConnexionFtp;
  } else {
    try {
      // Without creating anything: an absent destination folder just has
      // nothing in it yet.
      bool present = true;
      try {
        client->Cwd("/");
        for (const auto& part : SplitParts(CheminFTP(destination_))) client->Cwd(part);
      } catch (const ftp::Error& e) {
        if (!e.refused()) throw;
        present = false;
      }
      if (present) ListeRepertoireFTP(*client, CheminFTP(destination_));
    } catch (const ftp::Error&) {
      code_erreur_ = kErreurConnexionFtp;
    }
    client->Disconnect();
  }
  if (journal_) AjouteLigne(Text("fincptFicFtp"));
}

// ---------------------------------------------------------------- uploads

void TCustomDossier::ChangeRepFTP(std::string_view dir) {
  std::string r(dir);
  std::replace(r.begin(), r.end(), '\\', '/');
  if (!rep_ftp_courant_.empty() && r == rep_ftp_courant_) return;
  if (!client_ftp_) throw ftp::Error(ftp::ErrorKind::Connection, 0, "not connected");
  // Only a completed move is remembered: after a failure the next file
  // starts again from the root.
  rep_ftp_courant_.clear();
  client_ftp_->Cwd("/");
  for (const auto& part : SplitParts(r)) {
    try {
      client_ftp_->Cwd(part);
    } catch (const ftp::Error& e) {
      if (!e.refused()) throw;
      IgnoreRefusal([&] { client_ftp_->Mkd(part); });
      // A folder that can be neither entered nor created fails the upload:
      // going on would put the file in another folder.
      client_ftp_->Cwd(part);
    }
  }
  rep_ftp_courant_ = r;
}

bool TCustomDossier::EnvoieFTP(const std::filesystem::path& file, const std::string& name,
                               std::string_view folder_part) {
  std::string r = CheminFTP(destination_);
  r += '/';
  r += folder_part;
  auto attempt = [&] {
    ChangeRepFTP(r);
    client_ftp_->Stor(file, name);
  };
  try {
    attempt();
    return true;
  } catch (const ftp::Error&) {
  }
  // Once more over a new connection. The remote copy is not deleted first:
  // the upload replaces it, and a copy kept is better than none when this
  // attempt fails too.
  try {
    rep_ftp_courant_.clear();
    if (!client_ftp_) return false;
    client_ftp_->Connect();
    attempt();
    return true;
  } catch (const ftp::Error&) {
  }
  AjouteLigne(Text("EchecTransfert"));
  return false;
}

void TCustomDossier::CopieFichiersFTP() {
  AfficheEtat("Corv_2", "Copie");
  if (!OuvreClientFTP()) {
    if (journal_) AjouteLigne(Text("ErreurFtp"));
    code_erreur_ = kErreurConnexionFtp;
    FermeClientFTP();
    return;
  }
  bool every_file_delivered = true;
  bool stopped = false;
  for (const auto& f : selection_) {
    std::string_view folder = f.repertoire;
    folder.remove_prefix(std::min(origine_.size(), folder.size()));
    while (!folder.empty() && folder.front() == '/') folder.remove_prefix(1);
    while (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
    if (!TesteSuspension()) {
      std::filesystem::path file = f.local;
      std::string name = std::filesystem::path(f.chemin).filename().string();
      bool ok = true;
      if (avec_plug_inn_ || compresse_ || crypte_) {
        auto prepared = services_.steps ? services_.steps->Prepare(*this, f.local, services_.work_dir) : std::nullopt;
        if (prepared) {
          for (const auto& line : prepared->journal) AjouteLigne(line);
          file = prepared->file;
          name = prepared->delivered_name;
        } else {
          ok = false;
          AjouteLigne(Text("EchecTransfert"));
        }
      }
      if (ok) ok = EnvoieFTP(file, name, folder);
      if (file != f.local) {
        std::error_code ec;
        std::filesystem::remove(file, ec);  // an intermediate file of the work folder
      }
      if (!ok) every_file_delivered = false;
    }
    if (TesteSuspension()) {
      stopped = true;
      break;
    }
    AjouteLigne(f.chemin);
  }
  // As for local destinations, a file that did not go through must be
  // selected again by the next run: LastSave only moves when all did.
  if (!stopped && every_file_delivered) {
    FolderSettings s = Settings();
    s.WriteDateTime(kSectionParams, "LastSave", scan_start_);
    if (!selection_.empty()) s.WriteString(kSectionParams, "Sauvegarde reelle", "1");
  }
  FermeClientFTP();
}

// ---------------------------------------------------------------- for the purge

std::optional<std::vector<std::string>> TCustomDossier::ListeNomsFTP() {
  auto client = ConnexionFTP();
  if (!client) {
    code_erreur_ = kErreurConnexionFtp;
    return std::nullopt;
  }
  std::vector<std::string> names;
  try {
    // The whole folder is listed and the caller matches the names: servers
    // differ in whether LIST takes a pattern.
    client->Cwd("/");
    for (const auto& part : SplitParts(CheminFTP(destination_))) client->Cwd(part);
    for (const auto& line : client->List()) {
      if (EstRepertoireFTP(line)) continue;
      std::string name = NomFichierFTP(line);
      if (SafeName(name)) names.push_back(std::move(name));
    }
  } catch (const ftp::Error& e) {
    if (!e.refused()) {
      code_erreur_ = kErreurConnexionFtp;
      return std::nullopt;
    }
    // An absent folder or a refused listing: nothing to purge.
  }
  client->Disconnect();
  return names;
}

bool TCustomDossier::EffaceFichierFTP(const std::string& name) {
  auto client = ConnexionFTP();
  if (!client) {
    code_erreur_ = kErreurConnexionFtp;
    return false;
  }
  try {
    client->Cwd("/");
    for (const auto& part : SplitParts(CheminFTP(destination_))) client->Cwd(part);
    // Only in the destination folder itself.
    if (SafeName(name)) client->Dele(name);
  } catch (const ftp::Error& e) {
    if (!e.refused()) {
      code_erreur_ = kErreurConnexionFtp;
      return false;
    }
  }
  client->Disconnect();
  return true;
}

}  // namespace corvane
