#include "cli/cli.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>

#include "cli/messages.h"
#include "cli/secrets.h"
#include "engine/configure.h"
#include "engine/folder_definition.h"
#include "engine/journal.h"
#include "engine/threads.h"
#include "platform/datetime.h"
#include "platform/network.h"
#include "support/container.h"
#include "support/language.h"
#include "support/message_catalog.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "3"
#endif

namespace corvane::cli {

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------ arguments

struct OptionRule {
  std::string_view name;  // without "--"
  bool takes_value;
};

struct Parsed {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> values;
  std::set<std::string, std::less<>> flags;
  bool help = false;

  const std::string* Value(std::string_view name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
  bool Flag(std::string_view name) const { return flags.count(name) != 0; }
};

// A usage error: the catalog key of its message and what it concerns.
struct UsageError {
  std::string key;
  std::string detail;
};

std::optional<UsageError> Parse(const std::vector<std::string>& args, std::size_t from,
                                const std::vector<OptionRule>& rules, Parsed& parsed) {
  bool options_ended = false;
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_ended || a.size() < 3 || a.compare(0, 2, "--") != 0) {
      if (a == "--") {
        options_ended = true;
        continue;
      }
      if (!options_ended && a.size() > 1 && a[0] == '-' && a != "-") return UsageError{"CliOptionInconnue", a};
      parsed.positional.push_back(a);
      continue;
    }
    std::string name = a.substr(2);
    std::optional<std::string> inline_value;
    if (auto eq = name.find('='); eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "help" && !inline_value) {
      parsed.help = true;
      continue;
    }
    auto rule = std::find_if(rules.begin(), rules.end(), [&](const OptionRule& r) { return r.name == name; });
    if (rule == rules.end()) return UsageError{"CliOptionInconnue", a};
    if (!rule->takes_value) {
      if (inline_value) return UsageError{"CliValeurIncorrecte", a};
      parsed.flags.insert(name);
      continue;
    }
    if (inline_value) {
      parsed.values[name] = *inline_value;
    } else if (i + 1 < args.size()) {
      parsed.values[name] = args[++i];
    } else {
      return UsageError{"CliValeurManquante", "--" + name};
    }
  }
  return std::nullopt;
}

std::optional<long long> ParseInteger(std::string_view text, long long min, long long max) {
  long long v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return std::nullopt;
  return v;
}

// "HH:MM" (or "HH:MM:SS") as a time of day.
std::optional<std::chrono::seconds> ParseClock(std::string_view text) {
  auto t = platform::ParseTime(text);
  if (!t || *t < std::chrono::seconds(0) || *t >= std::chrono::hours(24)) return std::nullopt;
  return t;
}

// "dd/mm/yyyy" or "yyyy-mm-dd": local midnight of that day.
std::optional<platform::DateTime> ParseDay(std::string_view text) {
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    std::string swapped = std::string(text.substr(8, 2)) + "/" + std::string(text.substr(5, 2)) + "/" +
                          std::string(text.substr(0, 4));
    return platform::ParseDateTime(swapped);
  }
  // Only the full form: a two-digit year would guess a century.
  if (text.size() != 10 || text[2] != '/' || text[5] != '/') return std::nullopt;
  return platform::ParseDateTime(text);
}

// ------------------------------------------------------------ the tool

class Tool {
 public:
  explicit Tool(Context& ctx, Messages messages)
      : ctx_(ctx), msg_(std::move(messages)), folders_(*ctx.registry) {}

  int Dispatch(const std::vector<std::string>& args);

 private:
  struct Command {
    std::string_view name;
    std::string_view help_key;
    std::vector<OptionRule> options;
    std::size_t min_args;
    std::size_t max_args;
    int (Tool::*handler)(const Parsed&);
  };
  static const std::vector<Command>& Commands();

  int Usage(const UsageError& e, std::string_view help_key) {
    msg_.Say(ctx_.err, e.key, e.detail);
    msg_.Say(ctx_.err, help_key);
    return kExitUsage;
  }
  int Refuse(std::string_view key, std::string_view detail, int status = kExitUsage) {
    msg_.Say(ctx_.err, key, detail);
    return status;
  }
  void Out(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), ctx_.out);
    std::fputc('\n', ctx_.out);
  }

  std::optional<RegisteredFolder> Find(std::string_view name) const;

  int List(const Parsed&);
  int Show(const Parsed&);
  int Create(const Parsed&);
  int Delete(const Parsed&);
  int RunSave(const Parsed& p) { return Execute(p, RunKind::Save); }
  int RunMirror(const Parsed& p) { return Execute(p, RunKind::Mirror); }
  int RunPurge(const Parsed& p) { return Execute(p, RunKind::Purge); }
  int Suspend(const Parsed&);
  int Journal(const Parsed&);
  int Calendar(const Parsed&);
  int Encrypt(const Parsed&);
  int Decrypt(const Parsed&);

  int Execute(const Parsed& p, RunKind kind);
  int PrintDayFile(const fs::path& file, std::string_view missing_key);
  std::string KindText(int type_sauve) const;
  std::string ScheduleText(const FolderSettings& s) const;
  std::optional<std::string> Secret(const Parsed& p, std::string_view file_option, bool ask_terminal,
                                    std::string_view prompt_key, UsageError& error);
  std::optional<std::string> ContainerPassword(const Parsed& p, UsageError& error);

  Context& ctx_;
  Messages msg_;
  FolderRegister folders_;
};

const std::vector<Tool::Command>& Tool::Commands() {
  static const std::vector<Command> commands = {
      {"list", "CliAideList", {}, 0, 0, &Tool::List},
      {"show", "CliAideShow", {}, 1, 1, &Tool::Show},
      {"create",
       "CliAideCreate",
       {{"origin", true},
        {"destination", true},
        {"kind", true},
        {"dest-type", true},
        {"every", true},
        {"at", true},
        {"day", true},
        {"journal", false},
        {"subfolders", false},
        {"level", true},
        {"max-files", true},
        {"max-files-per-minute", true},
        {"max-mb", true},
        {"validity", true},
        {"purge-at", true},
        {"mirror-at", true},
        {"mirror-days", true},
        {"ftp-user", true},
        {"key-file", true},
        {"zip-password-file", true},
        {"ftp-password-file", true}},
       1,
       1,
       &Tool::Create},
      {"delete", "CliAideDelete", {}, 1, 1, &Tool::Delete},
      {"run", "CliAideRun", {{"no-limits", false}}, 1, 1, &Tool::RunSave},
      {"mirror", "CliAideMirror", {}, 1, 1, &Tool::RunMirror},
      {"purge", "CliAidePurge", {}, 1, 1, &Tool::RunPurge},
      {"suspend", "CliAideSuspend", {}, 0, 0, &Tool::Suspend},
      {"journal", "CliAideJournal", {}, 1, 2, &Tool::Journal},
      {"calendar", "CliAideCalendar", {}, 0, 1, &Tool::Calendar},
      {"encrypt", "CliAideEncrypt", {{"password-file", true}, {"force", false}}, 1, 1, &Tool::Encrypt},
      {"decrypt", "CliAideDecrypt", {{"password-file", true}, {"force", false}}, 1, 1, &Tool::Decrypt},
  };
  return commands;
}

int Tool::Dispatch(const std::vector<std::string>& args) {
  if (args.empty()) return Usage({"CliCommandeManquante", ""}, "CliAide");
  const std::string& first = args[0];
  if (first == "--help" || first == "help") {
    Out(msg_.Text("CliAide"));
    return kExitOk;
  }
  if (first == "--version") {
    Out(std::string("corvane ") + CORVANE_VERSION);
    return kExitOk;
  }
  const auto& commands = Commands();
  auto cmd = std::find_if(commands.begin(), commands.end(), [&](const Command& c) { return c.name == first; });
  if (cmd == commands.end()) return Usage({"CliCommandeInconnue", first}, "CliAide");
  Parsed parsed;
  if (auto e = Parse(args, 1, cmd->options, parsed)) return Usage(*e, cmd->help_key);
  if (parsed.help) {
    Out(msg_.Text(cmd->help_key));
    return kExitOk;
  }
  if (parsed.positional.size() < cmd->min_args) return Usage({"CliArgumentManquant", ""}, cmd->help_key);
  if (parsed.positional.size() > cmd->max_args)
    return Usage({"CliTropArguments", parsed.positional[cmd->max_args]}, cmd->help_key);
  return (this->*(cmd->handler))(parsed);
}

std::optional<RegisteredFolder> Tool::Find(std::string_view name) const {
  auto all = folders_.List();
  for (const auto& f : all)
    if (f.name == name) return f;
  // The register ignores letter case; so do we, when the spelling is unique.
  for (const auto& f : all)
    if (f.name.size() == name.size() &&
        std::equal(f.name.begin(), f.name.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        }))
      return f;
  return std::nullopt;
}

// ------------------------------------------------------------ list, show

std::string Tool::KindText(int type_sauve) const {
  static constexpr std::string_view kKeys[] = {"ClassicSave", "CompressSave", "CryptSave",
                                               "BothSave",    "ClassicArch",  "CryptArch"};
  if (type_sauve >= 0 && type_sauve <= kTypeSauveMax) return msg_.Text(kKeys[type_sauve]);
  return std::to_string(type_sauve);
}

std::string Tool::ScheduleText(const FolderSettings& s) const {
  const std::string type = s.ReadString(kSectionParams, "TypeDelai", "");
  if (type == "0") {
    const auto every = s.ReadInteger(kSectionParams, "DelaiSauve", 0);
    return msg_.Text("CliToutesLes") + std::to_string(every) + msg_.Text("CliMn");
  }
  if (type != "1") return "-";
  const auto day = s.ReadInteger(kSectionParams, "JourSauve", 0);
  std::string day_text;
  if (day >= 0 && day <= 7) {
    std::string names = msg_.Text("CliJours");
    std::size_t start = 0;
    for (std::int64_t i = 0; i < day && start != std::string::npos; ++i) {
      start = names.find(',', start);
      if (start != std::string::npos) ++start;
    }
    if (start != std::string::npos) day_text = names.substr(start, names.find(',', start) - start);
  } else if (day == 8) {
    day_text = msg_.Text("CliJourMois");
  } else {
    day_text = msg_.Text("CliLe") + std::to_string(day - 7);
  }
  const auto at = s.ReadTime(kSectionParams, "HeureSauve", std::chrono::seconds(0));
  return day_text + msg_.Text("CliA") + platform::FormatTimeOfDay(at).substr(0, 5);
}

int Tool::List(const Parsed&) {
  for (const auto& f : folders_.List()) {
    FolderSettings s(SettingsPathOf(f, ctx_.paths.install_dir));
    const bool running = s.ReadInteger(kSectionParams, "Encours", 0) == 1;
    Out(f.name + "\t" + KindText(static_cast<int>(s.ReadInteger(kSectionParams, "TypeSauve", 0))) + "\t" +
        s.ReadString(kSectionParams, "Destination", "") + "\t" + ScheduleText(s) + "\t" +
        msg_.Text(running ? "CliEnCours" : "CliInactif"));
  }
  std::fflush(ctx_.out);
  return kExitOk;
}

int Tool::Show(const Parsed& p) {
  auto f = Find(p.positional[0]);
  if (!f) return Refuse("CliDossierInconnu", p.positional[0]);
  FolderSettings s(SettingsPathOf(*f, ctx_.paths.install_dir));
  static const std::set<std::string, std::less<>> kSecrets = {"ftppass", "cryptage", "passwordzip"};
  Out(msg_.Text("CliFichier") + s.path().string());
  for (const auto& section : s.Sections()) {
    Out("[" + section + "]");
    for (const auto& [key, value] : s.Entries(section)) {
      std::string folded = key;
      for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (section == kSectionParams && kSecrets.count(folded))
        Out(key + "=" + msg_.Text(value.empty() ? "CliSecretVide" : "CliSecretDefini"));
      else
        Out(key + "=" + value);
    }
  }
  std::fflush(ctx_.out);
  return kExitOk;
}

// ------------------------------------------------------------ create, delete

std::optional<std::string> Tool::Secret(const Parsed& p, std::string_view file_option, bool ask_terminal,
                                        std::string_view prompt_key, UsageError& error) {
  if (const std::string* file = p.Value(file_option)) {
    auto secret = ReadSecretFile(*file);
    if (!secret) error = {"CliFichierIllisible", *file};
    return secret;
  }
  if (!ask_terminal || !ctx_.in_is_terminal) return std::string();
  auto secret = ReadSecretTerminal(msg_.Text(prompt_key) + " : ");
  if (!secret) error = {"CliPasDeTerminal", ""};
  return secret;
}

int Tool::Create(const Parsed& p) {
  const std::string_view help = "CliAideCreate";
  FolderDefinition def;
  def.nom = p.positional[0];
  // Switches turn on; a folder made here starts with them off.
  def.journal = p.Flag("journal");
  def.sous_rep = p.Flag("subfolders");
  auto bad = [&](std::string_view option) {
    const std::string* v = p.Value(option);
    return Usage({"CliValeurIncorrecte", "--" + std::string(option) + (v ? " " + *v : "")}, help);
  };
  auto integer = [&](std::string_view option, long long min, long long max, int& into) {
    const std::string* v = p.Value(option);
    if (!v) return true;
    auto n = ParseInteger(*v, min, max);
    if (!n) return false;
    into = static_cast<int>(*n);
    return true;
  };
  auto clock = [&](std::string_view option, std::chrono::seconds& into) {
    const std::string* v = p.Value(option);
    if (!v) return true;
    auto t = ParseClock(*v);
    if (!t) return false;
    into = *t;
    return true;
  };
  if (const std::string* kind = p.Value("kind")) {
    static const std::map<std::string, int, std::less<>> kKinds = {
        {"copy", 0}, {"zip", 1}, {"crypt", 2}, {"zip-crypt", 3}, {"archive", 4}, {"crypt-archive", 5}};
    auto it = kKinds.find(*kind);
    if (it == kKinds.end()) return bad("kind");
    def.type_sauve = it->second;
  }
  if (const std::string* dt = p.Value("dest-type")) {
    static const std::map<std::string, int, std::less<>> kTypes = {{"local", 0}, {"network", 1}, {"ftp", 2}};
    auto it = kTypes.find(*dt);
    if (it == kTypes.end()) return bad("dest-type");
    def.type_desti = it->second;
  }
  if (p.Value("every") && p.Value("at")) return Usage({"CliOptionsExclusives", "--every --at"}, help);
  if (p.Value("day") && !p.Value("at")) return Usage({"CliOptionRequiert", "--day --at"}, help);
  // A period of 0 is never due, and its immediate runs may select nothing.
  if (!integer("every", 1, kDelaiSauveMax, def.delai_sauve)) return bad("every");
  if (p.Value("at")) {
    def.type_delai = 1;
    if (!clock("at", def.heure_sauve)) return bad("at");
  }
  if (const std::string* day = p.Value("day")) {
    static const std::map<std::string, int, std::less<>> kDays = {{"all", 0}, {"mon", 1}, {"tue", 2}, {"wed", 3},
                                                                  {"thu", 4}, {"fri", 5}, {"sat", 6}, {"sun", 7}};
    if (auto it = kDays.find(*day); it != kDays.end()) {
      def.jour_sauve = it->second;
    } else if (auto n = ParseInteger(*day, 1, 28)) {
      def.jour_sauve = static_cast<int>(*n) + 7;
    } else {
      return bad("day");
    }
  }
  if (!integer("level", 0, 9, def.taux_zip)) return bad("level");
  if (!integer("max-files", 0, kLimiteMax, def.nb_max_fic)) return bad("max-files");
  if (!integer("max-files-per-minute", 0, kLimiteMax, def.nb_max_fic_min)) return bad("max-files-per-minute");
  if (!integer("max-mb", 0, kLimiteMax, def.volume_max)) return bad("max-mb");
  if (const std::string* v = p.Value("validity")) {
    auto days = ParseInteger(*v, 0, 365);
    auto position = days ? ValidityPosition(static_cast<int>(*days)) : std::nullopt;
    if (!position) return bad("validity");
    def.nb_jours_valide_zip = *position;
  }
  if (!clock("purge-at", def.efface_archive)) return bad("purge-at");
  if (p.Value("mirror-at")) {
    def.miroir = true;
    if (!clock("mirror-at", def.heure_miroir)) return bad("mirror-at");
  }
  if (!integer("mirror-days", 0, kDelaiMiroirMax, def.delai_miroir)) return bad("mirror-days");
  if ((p.Value("mirror-at") || p.Value("mirror-days")) && (def.IsArchive() || def.type_desti == kTypeDestiFtp))
    return Usage({"CliMiroirImpossible", ""}, help);
  if (const std::string* u = p.Value("ftp-user")) def.ftp_user = *u;

  if (const std::string* o = p.Value("origin")) def.origine = *o;
  if (const std::string* d = p.Value("destination")) def.destination = *d;
  // Runs start from other directories: keep local paths absolute, and
  // without a final "/" as the editor stores them.
  auto normalise = [](std::string& path) {
    if (path.empty()) return;
    if (path.rfind("//", 0) != 0) {
      std::error_code ec;
      fs::path abs = fs::absolute(path, ec);
      if (!ec) path = abs.lexically_normal().string();
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
  };
  normalise(def.origine);
  if (def.type_desti != kTypeDestiFtp) normalise(def.destination);

  // Every other check first: nobody types a key for a folder refused anyway.
  // The key's own check is the last of them.
  if (const FolderCheck early = CheckFolder(def, true, folders_, ctx_.paths.settings_dir);
      early != FolderCheck::Ok && early != FolderCheck::ErreurCryptkey)
    return Refuse(CatalogKeyOf(early), "");
  UsageError secret_error;
  auto key = Secret(p, "key-file", def.NeedsKey(), "CliClef", secret_error);
  if (!key) return Refuse(secret_error.key, secret_error.detail);
  def.cryptage = *key;
  auto zip = Secret(p, "zip-password-file", false, "Password", secret_error);
  if (!zip) return Refuse(secret_error.key, secret_error.detail);
  def.password_zip = *zip;
  auto ftp = Secret(p, "ftp-password-file", def.type_desti == kTypeDestiFtp, "Password", secret_error);
  if (!ftp) return Refuse(secret_error.key, secret_error.detail);
  def.ftp_pass = *ftp;

  const FolderCheck check = CheckFolder(def, true, folders_, ctx_.paths.settings_dir);
  if (check != FolderCheck::Ok) return Refuse(CatalogKeyOf(check), "");
  auto saved = SaveFolder(def, folders_, ctx_.paths.settings_dir, ctx_.paths.install_dir);
  if (!saved) return Refuse("CliErreurEcriture", def.nom, kExitRunError);
  msg_.Say(ctx_.err, "CliDossierCree", def.nom + " (" + saved->string() + ")");
  return kExitOk;
}

int Tool::Delete(const Parsed& p) {
  auto f = Find(p.positional[0]);
  if (!f) return Refuse("CliDossierInconnu", p.positional[0]);
  const fs::path file = SettingsPathOf(*f, ctx_.paths.install_dir);
  // A running operation writes its status keys at its end and would bring
  // back a file of nothing but those.
  if (FolderSettings(file).ReadInteger(kSectionParams, "Encours", 0) == 1)
    return Refuse("CliDejaEnCours", f->name, kExitAlreadyRunning);
  std::error_code ec;
  fs::remove(file, ec);
  if (ec) return Refuse("CliErreurEcriture", file.string(), kExitRunError);
  if (!folders_.Delete(f->name)) return Refuse("CliErreurEcriture", f->name, kExitRunError);
  msg_.Say(ctx_.err, "CliDossierSupprime", f->name);
  return kExitOk;
}

// ------------------------------------------------------------ runs

// Prints every journal line as the run adds it and, on a terminal, keeps a
// progress line below them. Lines come from the run's worker thread; the
// selection is read there too, so it is never read while it changes.
class PrintingSink final : public JournalSink {
 public:
  PrintingSink(Context& ctx, std::string progress_format, std::string echec_text)
      : ctx_(ctx), format_(std::move(progress_format)), echec_(std::move(echec_text)) {}

  void Attach(const TCustomDossier* dossier) { dossier_ = dossier; }

  void Line(std::string_view line) override {
    std::lock_guard lock(m_);
    if (progress_shown_) std::fputs("\r\033[K", ctx_.err);
    std::fwrite(line.data(), 1, line.size(), ctx_.out);
    std::fputc('\n', ctx_.out);
    std::fflush(ctx_.out);
    if (!echec_.empty() && line == echec_) ++failed_;
    if (dossier_) Count(line);
    if (progress_shown_ || (ctx_.err_is_terminal && files_done_ > 0)) ShowProgress();
  }

  // Ends the progress line so that the shell's prompt starts on its own.
  void Finish() {
    std::lock_guard lock(m_);
    if (progress_shown_) std::fputc('\n', ctx_.err);
    progress_shown_ = false;
  }
  int failed() {
    std::lock_guard lock(m_);
    return failed_;
  }

 private:
  void Count(std::string_view line) {
    if (sizes_.empty()) {
      const auto& sel = dossier_->FichiersSelectionnes();
      for (const auto& f : sel) {
        sizes_[f.chemin] = f.taille;
        total_bytes_ += f.taille;
      }
      total_files_ = sel.size();
    }
    auto it = sizes_.find(std::string(line));
    if (it == sizes_.end()) return;
    ++files_done_;
    bytes_done_ += it->second;
  }

  void ShowProgress() {
    std::string text = format_;
    const std::pair<std::string_view, std::string> fields[] = {{"%1", std::to_string(files_done_)},
                                                               {"%2", std::to_string(total_files_)},
                                                               {"%3", std::to_string(bytes_done_)},
                                                               {"%4", std::to_string(total_bytes_)}};
    for (const auto& [mark, value] : fields)
      if (auto at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), value);
    std::fputs(text.c_str(), ctx_.err);
    std::fflush(ctx_.err);
    progress_shown_ = true;
  }

  Context& ctx_;
  std::string format_;
  std::string echec_;
  const TCustomDossier* dossier_ = nullptr;
  std::mutex m_;
  bool progress_shown_ = false;
  int failed_ = 0;
  std::unordered_map<std::string, std::uint64_t> sizes_;
  std::size_t total_files_ = 0;
  std::size_t files_done_ = 0;
  std::uint64_t total_bytes_ = 0;
  std::uint64_t bytes_done_ = 0;
};

std::string_view MeaningKey(int code) {
  switch (code) {
    case kErreurChemin: return "ErreurPath";
    case kErreurAccesRefuse: return "ErreurReseauRefus";
    case kErreurReseau: return "ErreurReseau";
    case kErreurArchive: return "CliErreurArchive";
    case kErreurConnexionFtp: return "ErreurFtp";
    default: return "ErreurConnectReseau";
  }
}

// Asks the folder's running operation to stop, as a suspension request.
void RequestSuspension(const fs::path& settings_file) {
  FolderSettings(settings_file).Update([](platform::IniDocument& doc) {
    return doc.Set(kSectionParams, "Suspension", "1");
  });
}

int Tool::Execute(const Parsed& p, RunKind kind) {
  auto f = Find(p.positional[0]);
  if (!f) return Refuse("CliDossierInconnu", p.positional[0]);
  const fs::path settings_file = SettingsPathOf(*f, ctx_.paths.install_dir);
  FolderSettings settings(settings_file);
  if (!settings.Exists()) return Refuse("CliFichierIllisible", settings_file.string());
  const auto type = settings.ReadInteger(kSectionParams, "TypeSauve", 0);
  const bool ftp = settings.ReadInteger(kSectionParams, "TypeDesti", 0) == kTypeDestiFtp;
  // The same operations the agent and the console offer, and no others.
  if (kind == RunKind::Mirror && (type > 3 || ftp)) return Refuse("CliMiroirImpossible", f->name);
  if (kind == RunKind::Purge && type <= 3) return Refuse("CliPasArchive", f->name);

  std::error_code ec;
  fs::create_directories(ctx_.paths.logs_dir, ec);
  MessageCatalog catalog = LoadMessageCatalog(ctx_.paths.install_dir, ctx_.locale_language, *ctx_.registry);
  PrintingSink sink(ctx_, msg_.Text("CliProgression"), catalog.echec_transfert);
  platform::SystemClock clock;
  EngineServices services;
  services.catalog = &catalog;
  services.clock = &clock;
  services.journal_sink = &sink;
  services.program_dir = ctx_.paths.install_dir;
  services.logs_dir = ctx_.paths.logs_dir;
  services.work_dir = ctx_.paths.work_dir;
  services.network_root = platform::NetworkRootFromEnvironment();
  services.computer_name = platform::ComputerName();

  std::unique_ptr<TWorkerThread> thread;
  try {
    thread = PrepareRun(services, *f, settings_file, kind, RunCaller::AgentTray, clock.Now());
  } catch (const std::exception& e) {
    return Refuse("CliErreurOperation", e.what(), kExitRunError);
  }
  if (!thread) return Refuse("CliErreurOperation", f->name, kExitRunError);
  if (p.Flag("no-limits")) thread->Dossier().SetLimites(false);
  sink.Attach(&thread->Dossier());

  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  RunOutcome outcome;
  thread->OnOutcome([&](const RunOutcome& o) {
    std::lock_guard lock(m);
    outcome = o;
  });
  thread->OnFinished([&] {
    std::lock_guard lock(m);
    done = true;
    cv.notify_all();
  });
  sigset_t interrupts;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  sigaddset(&interrupts, SIGHUP);
  // Before the thread exists, so that it inherits the mask.
  if (ctx_.handle_interrupts) pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
  if (!TWorkerThread::Start(std::move(thread))) return Refuse("CliErreurOperation", f->name, kExitRunError);

  // An interrupt asks the run to stop as a suspension would, so that it
  // still closes its journal and clears its running mark.
  bool interrupted = false;
  for (;;) {
    {
      std::unique_lock lock(m);
      if (cv.wait_for(lock, std::chrono::milliseconds(ctx_.handle_interrupts ? 100 : 1000), [&] { return done; }))
        break;
    }
    if (!ctx_.handle_interrupts) continue;
    timespec none{0, 0};
    if (sigtimedwait(&interrupts, nullptr, &none) > 0 && !interrupted) {
      interrupted = true;
      RequestSuspension(settings_file);
    }
  }
  sink.Finish();
  if (interrupted && !outcome.suspendu) {
    // The run ended before it looked: the request must not stop the next one.
    FolderSettings(settings_file).Update([](platform::IniDocument& doc) {
      const std::string* v = doc.Find(kSectionParams, "Suspension");
      return v && *v == "1" && doc.Set(kSectionParams, "Suspension", "0");
    });
  }

  if (outcome.deja_en_cours) return Refuse("CliDejaEnCours", f->name, kExitAlreadyRunning);
  if (!outcome.failure.empty()) return Refuse("CliErreurOperation", outcome.failure, kExitRunError);
  if (outcome.code_erreur != kErreurAucune)
    return Refuse("CliCodeErreur",
                  std::to_string(outcome.code_erreur) + " : " + msg_.Text(MeaningKey(outcome.code_erreur)),
                  kExitRunError);
  if (outcome.suspendu) return Refuse("Suspension", "", kExitSuspended);
  if (int failed = sink.failed(); failed > 0)
    return Refuse("CliEchecFichiers", std::to_string(failed), kExitRunError);
  return kExitOk;
}

int Tool::Suspend(const Parsed&) {
  int asked = 0;
  for (const auto& f : folders_.List()) {
    FolderSettings s(SettingsPathOf(f, ctx_.paths.install_dir));
    if (!s.Exists()) continue;
    bool requested = false;
    // Tested and written in one step: a run that ends meanwhile must not
    // leave a request behind for the folder's next run.
    s.Update([&](platform::IniDocument& doc) {
      const std::string* v = doc.Find(kSectionParams, "Encours");
      if (!v || ParseSettingInteger(*v) != 1) return false;
      requested = true;
      return doc.Set(kSectionParams, "Suspension", "1");
    });
    if (requested) {
      msg_.Say(ctx_.err, "CliSuspensionDemandee", f.name);
      ++asked;
    }
  }
  if (asked == 0) msg_.Say(ctx_.err, "CliAucunEnCours");
  return kExitOk;
}

// ------------------------------------------------------------ journals

int Tool::PrintDayFile(const fs::path& file, std::string_view missing_key) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return Refuse(missing_key, "");
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) return Refuse("CliFichierIllisible", file.string());
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) text.append(buf, n);
  std::fclose(in);
  for (const auto& line : SplitLines(text)) Out(line);
  std::fflush(ctx_.out);
  return kExitOk;
}

int Tool::Journal(const Parsed& p) {
  platform::DateTime day = std::chrono::system_clock::now();
  if (p.positional.size() > 1) {
    auto d = ParseDay(p.positional[1]);
    if (!d) return Usage({"ErreurDate", " " + p.positional[1]}, "CliAideJournal");
    day = *d;
  }
  // A deleted folder's journals stay: the name need not be registered.
  std::string name = p.positional[0];
  if (auto f = Find(name)) name = f->name;
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
    return Refuse("CliDossierInconnu", name);
  return PrintDayFile(JournalPath(ctx_.paths.logs_dir, DateJour(day), name), "NoJournal");
}

int Tool::Calendar(const Parsed& p) {
  platform::DateTime day = std::chrono::system_clock::now();
  if (!p.positional.empty()) {
    auto d = ParseDay(p.positional[0]);
    if (!d) return Usage({"ErreurDate", " " + p.positional[0]}, "CliAideCalendar");
    day = *d;
  }
  return PrintDayFile(CalendarPath(ctx_.paths.logs_dir, DateJour(day)), "NoCal");
}

// ------------------------------------------------------------ containers

std::optional<std::string> Tool::ContainerPassword(const Parsed& p, UsageError& error) {
  if (const std::string* file = p.Value("password-file")) {
    auto secret = ReadSecretFile(*file);
    if (!secret) error = {"CliFichierIllisible", *file};
    return secret;
  }
  if (!ctx_.in_is_terminal) {
    auto secret = ReadSecretStream(ctx_.in_fd);
    if (!secret) error = {"CliFichierIllisible", "-"};
    return secret;
  }
  auto secret = ReadSecretTerminal(msg_.Text("Password") + " : ");
  if (!secret) error = {"CliPasDeTerminal", ""};
  return secret;
}

int Tool::Encrypt(const Parsed& p) {
  const fs::path source = p.positional[0];
  const fs::path container = source.string() + std::string(kContainerExtension);
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) return Refuse("ErrorOpenSource", " " + source.string());
  if (fs::exists(container, ec) && !p.Flag("force")) return Refuse("CliExisteDeja", container.string());
  UsageError error;
  auto password = ContainerPassword(p, error);
  if (!password) return Refuse(error.key, error.detail);
  if (password->empty()) return Refuse("PasswordPlease", "");
  try {
    EncryptFileToContainer(source, *password);
  } catch (const ContainerError& e) {
    const char* key = e.kind() == ContainerError::Kind::Write ? "ErrorOpenDesti" : "ErrorOpenSource";
    return Refuse(key, " " + e.path().string(), kExitRunError);
  }
  msg_.Say(ctx_.err, "Filecrypt", " " + container.string());
  return kExitOk;
}

int Tool::Decrypt(const Parsed& p) {
  const fs::path container = p.positional[0];
  const std::string text = container.string();
  const std::string_view ext = kContainerExtension;
  if (text.size() <= ext.size() || text.compare(text.size() - ext.size(), ext.size(), ext) != 0 ||
      container.filename().string() == ext)
    return Refuse("CliPasConteneur", text);
  const fs::path plain = text.substr(0, text.size() - ext.size());
  std::error_code ec;
  if (!fs::is_regular_file(container, ec)) return Refuse("ErrorOpen", " " + text);
  if (fs::exists(plain, ec) && !p.Flag("force")) return Refuse("CliExisteDeja", plain.string());
  UsageError error;
  auto password = ContainerPassword(p, error);
  if (!password) return Refuse(error.key, error.detail);
  if (password->empty()) return Refuse("PasswordPlease", "");
  try {
    if (DecryptContainerToFile(container, plain, *password) == DecryptResult::WrongPassword)
      return Refuse("BadPassword", "", kExitWrongPassword);
  } catch (const ContainerError& e) {
    const char* key = e.kind() == ContainerError::Kind::Write ? "ErrorOpenDesti" : "ErrorOpen";
    return Refuse(key, " " + e.path().string(), kExitRunError);
  }
  msg_.Say(ctx_.err, "Filedecrypt", " " + plain.string());
  return kExitOk;
}

}  // namespace

int Run(const std::vector<std::string>& args, Context& ctx) {
  if (!ctx.registry) return kExitUsage;
  auto decision =
      SelectLanguage(ctx.paths.install_dir, StoredLanguage(*ctx.registry), ctx.locale_language);
  if (auto* broken = std::get_if<InstallationError>(&decision)) {
    std::fprintf(ctx.err, "%.*s\n", static_cast<int>(broken->message.size()), broken->message.data());
    return kExitUsage;
  }
  Tool tool(ctx, Messages(ctx.paths.install_dir, std::get<LanguageChoice>(decision).language));
  return tool.Dispatch(args);
}

}  // namespace corvane::cli
