// The FTP destination against curl on the same local server (pyftpdlib on
// 127.0.0.1), in one run: the first backup of a corpus against `curl -T` of
// the same files over one connection, and the listing walk of a remote tree
// of 10,000 files against curl listing each of its folders over one
// connection. Both sides use active mode. Figures are printed as ratios.
//   ftp_bench [WORK_DIR] [--preset small|mixed|large] [--seed N] [--rounds N]
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "bench/corpus.h"
#include "engine/configure.h"
#include "engine/custom_dossier.h"
#include "support/folder_settings.h"
#include "support/stored_secret.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(1);
}

pid_t Spawn(const std::vector<std::string>& argv, const fs::path& err) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double TimeCommand(const std::vector<std::string>& argv, const fs::path& err) {
  auto t0 = Clock::now();
  if (Wait(Spawn(argv, err)) != 0) Fail(argv[0] + " failed, see " + err.string());
  return Seconds(t0);
}

// The tests' server, with the command log in the work folder.
class Server {
 public:
  Server(const fs::path& root, const fs::path& work) {
    fs::create_directories(root);
    const fs::path ready = work / "ready";
    pid_ = Spawn({CORVANE_PYTHON, CORVANE_FTP_SERVER_SCRIPT, "--root", root.string(), "--ready", ready.string(), "--log",
                  (work / "commands.log").string()},
                 work / "server.err");
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!fs::exists(ready)) {
      if (Clock::now() > deadline) Fail("the FTP server did not start");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream in(ready);
    in >> port_;
  }
  ~Server() {
    ::kill(pid_, SIGTERM);
    Wait(pid_);
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

std::string UrlEscape(std::string_view path) {
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

// A curl config that runs the transfers one after the other in one
// invocation, so that curl keeps its one connection.
std::ofstream CurlConfig(const fs::path& file) {
  std::ofstream cfg(file);
  cfg << "silent\nshow-error\nuser = \"user:secret\"\nftp-port = \"-\"\ndisable-eprt\n";
  return cfg;
}

corvane::EngineServices Services(const fs::path& work) {
  corvane::EngineServices sv;
  sv.logs_dir = work / "logs";
  sv.work_dir = work / "engine-work";
  sv.computer_name = "bench";
  fs::create_directories(sv.logs_dir);
  return sv;
}

double TimeEngineUpload(const fs::path& work, const fs::path& src, const std::string& destination,
                        std::size_t& selected) {
  const fs::path ini = work / "Bench.ini";
  fs::remove(ini);
  corvane::FolderSettings s(ini);
  s.WriteString("PARAMS", "Origine", src.string());
  s.WriteString("PARAMS", "Destination", destination);
  s.WriteInteger("PARAMS", "TypeDesti", 2);
  s.WriteString("PARAMS", "FTPUser", "user");
  s.WriteString("PARAMS", "FTPPass", corvane::EncryptSetting("secret"));
  s.WriteString("PARAMS", "LastSave", "01/01/2001 00:00:00");
  s.WriteBool("PARAMS", "SousRep", true);
  s.WriteBool("PARAMS", "Journal", true);
  s.WriteInteger("PARAMS", "NbMaxFic", 32000);
  s.WriteInteger("PARAMS", "NbMaxFicMin", 32000);
  s.WriteInteger("PARAMS", "DelaiSauve", 1440);
  s.WriteInteger("PARAMS", "VolumeMax", 32000);
  corvane::TCustomDossier d(Services(work));
  corvane::ConfigureBackupRun(d, {"Bench", ini.string()}, ini, corvane::RunCaller::AgentTray, false,
                              std::chrono::system_clock::now());
  auto t0 = Clock::now();
  d.LanceSauvegarde();
  const double secs = Seconds(t0);
  if (d.CodeErreur() != 0) Fail("backup run failed with code " + std::to_string(d.CodeErreur()));
  selected = d.FichiersSelectionnes().size();
  return secs;
}

double TimeEngineListing(const fs::path& work, const std::string& destination, std::size_t& listed) {
  const fs::path ini = work / "List.ini";
  corvane::FolderSettings(ini).WriteString("PARAMS", "Nom", "List");
  corvane::TCustomDossier d(Services(work));
  d.SetFichierIni(ini);
  d.SetDestination(destination);
  d.SetFTP(true);
  d.SetFTPUser("user");
  d.SetFTPPass("secret");
  d.SetJournal(false);
  auto t0 = Clock::now();
  d.ListeFTP();
  const double secs = Seconds(t0);
  if (d.CodeErreur() != 0) Fail("listing failed with code " + std::to_string(d.CodeErreur()));
  listed = d.FichiersFTP().size();
  return secs;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path work = fs::temp_directory_path() / "corvane-ftp-bench";
  std::string preset_name = "small";
  std::uint64_t seed = 1;
  int rounds = 1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--preset" && i + 1 < argc) preset_name = argv[++i];
    else if (a == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (a.starts_with("-")) corvane::bench::Usage("ftp_bench [WORK_DIR] [--preset small|mixed|large] [--seed N] [--rounds N]");
    else work = a;
  }
  auto preset = corvane::bench::PresetFromName(preset_name);
  if (!preset) Fail("unknown preset " + preset_name);
  corvane::bench::ClaimWorkDir(work);
  const fs::path src = work / "src", root = work / "ftproot";
  corvane::bench::WriteTree(corvane::bench::MakePlan(*preset, seed), src);
  const auto stats = corvane::bench::ScanTree(src);
  std::printf("corpus %s seed %llu: %llu files, %llu folders, %.1f MB\n", preset_name.c_str(),
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(stats.files),
              static_cast<unsigned long long>(stats.folders), static_cast<double>(stats.bytes) / 1e6);

  // The remote tree to list: 100 folders of 100 files.
  constexpr int kFolders = 100, kPerFolder = 100;
  for (int f = 0; f < kFolders; ++f) {
    char dir[32];
    std::snprintf(dir, sizeof dir, "d%03d", f);
    fs::create_directories(root / "tree" / dir);
    for (int i = 0; i < kPerFolder; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "f%05d.txt", f * kPerFolder + i);
      std::ofstream(root / "tree" / dir / name) << name;
    }
  }

  Server server(root, work);
  const std::string host = server.host();

  // curl's side: every file with its remote folder, folders created.
  std::vector<std::pair<fs::path, std::string>> files;
  for (const auto& e : fs::recursive_directory_iterator(src))
    if (e.is_regular_file()) files.emplace_back(e.path(), fs::relative(e.path(), src).parent_path().string());

  double best_engine_up = 1e9, best_curl_up = 1e9, best_engine_list = 1e9, best_curl_list = 1e9;
  std::size_t selected = 0, listed = 0;
  for (int r = 0; r < rounds; ++r) {
    const std::string n = std::to_string(r);
    const fs::path up_cfg = work / ("upload" + n + ".curl");
    {
      auto cfg = CurlConfig(up_cfg);
      cfg << "ftp-create-dirs\n";
      for (const auto& [path, rel] : files) {
        cfg << "upload-file = \"" << path.string() << "\"\n";
        cfg << "url = \"ftp://" << host << "/curl" << n << "/" << UrlEscape(rel) << (rel.empty() ? "" : "/") << "\"\n";
      }
    }
    auto time_curl_up = [&] { best_curl_up = std::min(best_curl_up, TimeCommand({"curl", "-K", up_cfg.string()}, work / "curl.err")); };
    if (r % 2) time_curl_up();
    best_engine_up = std::min(best_engine_up, TimeEngineUpload(work, src, host + "/engine" + n, selected));
    if (r % 2 == 0) time_curl_up();

    const fs::path list_cfg = work / "list.curl";
    {
      auto cfg = CurlConfig(list_cfg);
      cfg << "url = \"ftp://" << host << "/tree/\"\noutput = \"/dev/null\"\n";
      for (int f = 0; f < kFolders; ++f) {
        char dir[32];
        std::snprintf(dir, sizeof dir, "d%03d", f);
        cfg << "url = \"ftp://" << host << "/tree/" << dir << "/\"\noutput = \"/dev/null\"\n";
      }
    }
    auto time_curl_list = [&] {
      best_curl_list = std::min(best_curl_list, TimeCommand({"curl", "-K", list_cfg.string()}, work / "curl.err"));
    };
    if (r % 2) time_curl_list();
    best_engine_list = std::min(best_engine_list, TimeEngineListing(work, host + "/tree", listed));
    if (r % 2 == 0) time_curl_list();
  }
  std::printf("best of %d rounds, local pyftpdlib server, active mode on both sides\n", rounds);
  std::printf("first backup upload: backup run %.2f s (%zu files, %.0f files/s)   curl -T, one connection %.2f s   ratio %.2f\n",
              best_engine_up, selected, static_cast<double>(selected) / best_engine_up, best_curl_up,
              best_engine_up / best_curl_up);
  std::printf("listing walk of %d files in %d folders: ListeFTP %.3f s (%zu listed)   curl LIST of each folder %.3f s   ratio %.2f\n",
              kFolders * kPerFolder, kFolders, best_engine_list, listed, best_curl_list,
              best_engine_list / best_curl_list);
  fs::remove_all(work);
  return selected == stats.files && listed == static_cast<std::size_t>(kFolders * kPerFolder) ? 0 : 1;
}
