// An FTP client (RFC 959) that keeps one control connection open for a whole
// phase of work: active mode (PORT), image type, and every change of folder
// sent and tracked by the caller. Built over libcurl, which stays hidden in
// the implementation. One client belongs to one thread; only Cancel may be
// called from another.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::ftp {

// Where to connect: a host text "host" or "host:port".
struct Endpoint {
  std::string host;  // a name, an IPv4 address or a bracketed IPv6 address
  int port = 21;
};
// Reads a host text; nothing when it is empty, holds characters that would
// change a URL's meaning ("@", "/", "?", "#", "%", blanks...) or a bad port.
std::optional<Endpoint> ParseEndpoint(std::string_view host_text);

struct Settings {
  Endpoint endpoint;
  std::string user;      // empty: anonymous login
  std::string password;  // never logged, never put in a URL
  std::chrono::milliseconds connect_timeout{15000};
  // Longest wait for one reply of the server, and for the server to open
  // an active-mode data connection.
  std::chrono::milliseconds reply_timeout{30000};
  // A transfer that moves no byte for this long is given up.
  std::chrono::milliseconds stall_timeout{60000};
};

// Why an operation failed.
enum class ErrorKind {
  Refused,     // the server answered with a refusal; the connection stays usable
  Connection,  // connecting, logging in, or the connection broke; it is closed
  Cancelled,   // Cancel was called during a transfer; the connection is closed
  Local,       // a local file could not be read or written
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, int reply_code, const std::string& what)
      : std::runtime_error(what), kind_(kind), reply_code_(reply_code) {}
  ErrorKind kind() const { return kind_; }
  bool refused() const { return kind_ == ErrorKind::Refused; }
  int reply_code() const { return reply_code_; }  // 0 when no reply was read

 private:
  ErrorKind kind_;
  int reply_code_;
};

struct Reply {
  int code = 0;
  std::string text;  // the last line of the reply, its code included
};

struct Events {
  // Short texts on the connection's state ("Connecting to %s.", "Connected.",
  // "Disconnected."), for a log pane.
  std::function<void(const std::string&)> status;
  // Bytes moved so far and the expected total (0 when not known), during
  // uploads, downloads and listings.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

class Client {
 public:
  explicit Client(Settings settings, Events events = {});
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Connects and logs in (USER, PASS), then TYPE I and SYST. Any failure is
  // an Error of kind Connection. Connecting again first closes the current
  // connection.
  void Connect();
  bool Connected() const;
  // Sends QUIT (when connected) and closes the connection. Never throws.
  void Disconnect();

  // Each command below throws Error: Refused when the server's reply is not
  // the one named, Connection when the connection is gone.
  std::string Pwd();                    // 257: the folder between the first two '"'
  void Cwd(std::string_view path);      // 200 or 250
  void Cdup();                          // 200 or 250
  void Mkd(std::string_view name);      // 257
  void Rmd(std::string_view name);      // 250
  void Dele(std::string_view name);     // 250
  void Noop();                          // 200
  // Any command; answers the final reply whatever its code.
  Reply Command(std::string_view line);

  // LIST of the current folder, split into lines (line ends removed, empty
  // lines dropped).
  std::vector<std::string> List();
  // STOR: the remote file `name` of the current folder gets the local
  // file's bytes, replacing what it held.
  void Stor(const std::filesystem::path& local, std::string_view name);
  // RETR: the local file receives the remote file, replacing it only once the
  // transfer is complete.
  void Retr(std::string_view name, const std::filesystem::path& local);

  // Ends the running transfer (from any thread); the transfer fails with
  // kind Cancelled and the connection is closed. Without a running
  // transfer it does nothing.
  void Cancel();

  // The last reply read, for messages.
  const Reply& LastReply() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::ftp
