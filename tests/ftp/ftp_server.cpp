#include "ftp/ftp_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

FtpServer::FtpServer(const fs::path& root, const fs::path& work, Options options) : options_(std::move(options)) {
  fs::create_directories(work);
  fs::create_directories(root);
  log_ = work / "ftp-commands.log";
  errors_ = work / "ftp-server.err";
  const fs::path ready = work / "ftp-ready";
  fs::remove(ready);
  std::vector<std::string> argv{CORVANE_PYTHON, CORVANE_FTP_SERVER_SCRIPT, "--root", root.string(), "--ready",
                                ready.string(), "--log", log_.string(), "--user", options_.user, "--password",
                                options_.password};
  argv.insert(argv.end(), options_.extra.begin(), options_.extra.end());
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("cannot fork the FTP server");
  if (pid == 0) {
    int err = ::open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
    }
    if (err >= 0) ::dup2(err, 2);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  pid_ = pid;
  // Bounded wait for the port; a server that died says why in its errors.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (fs::exists(ready)) {
      port_ = std::stoi(Slurp(ready));
      return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("the FTP server did not start: " + Slurp(errors_));
    }
    std::this_thread::sleep_for(20ms);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
  throw std::runtime_error("the FTP server did not start in time: " + Slurp(errors_));
}

FtpServer::~FtpServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::vector<std::string> FtpServer::Log() const {
  std::vector<std::string> lines;
  std::istringstream in(Slurp(log_));
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> FtpServer::Commands(std::size_t from) const {
  std::vector<std::string> out;
  auto lines = Log();
  for (std::size_t i = from; i < lines.size(); ++i) {
    auto space = lines[i].find(' ');
    std::string cmd = space == std::string::npos ? lines[i] : lines[i].substr(space + 1);
    if (cmd == "CONNECT" || cmd == "DISCONNECT") continue;
    out.push_back(cmd);
  }
  return out;
}

int FtpServer::Sessions() const {
  int n = 0;
  for (const auto& l : Log())
    if (l.size() > 8 && l.compare(l.size() - 8, 8, " CONNECT") == 0) ++n;
  return n;
}

bool FtpServer::WaitFor(std::string_view line, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    for (const auto& l : Log())
      if (l == line) return true;
    std::this_thread::sleep_for(10ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

}  // namespace corvane::test
