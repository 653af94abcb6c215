#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::test {

// A real FTP server (tests/ftp/ftp_server.py, Debian's pyftpdlib) on a free
// port of 127.0.0.1, serving `root`, started by the constructor and stopped
// by the destructor. Its log holds every command it received.
class FtpServer {
 public:
  struct Options {
    std::string user = "user";
    std::string password = "secret";
    std::vector<std::string> extra;  // more options of the script
  };
  // Throws std::runtime_error when the server does not start in time (a
  // missing python or pyftpdlib included: the test fails).
  FtpServer(const std::filesystem::path& root, const std::filesystem::path& work, Options options);
  FtpServer(const std::filesystem::path& root, const std::filesystem::path& work)
      : FtpServer(root, work, Options()) {}
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  int port() const { return port_; }
  // "127.0.0.1:port", the host text of a destination.
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  const Options& options() const { return options_; }

  // Every log line: "<session> <COMMAND> <argument>", CONNECT and
  // DISCONNECT included.
  std::vector<std::string> Log() const;
  // The commands received since the log held `from` lines, without the
  // session numbers and connection events.
  std::vector<std::string> Commands(std::size_t from = 0) const;
  // How many sessions have been opened so far.
  int Sessions() const;
  // Waits (bounded) until some log line equals `line`.
  bool WaitFor(std::string_view line, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  std::filesystem::path log_;
  std::filesystem::path errors_;
  Options options_;
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace corvane::test
