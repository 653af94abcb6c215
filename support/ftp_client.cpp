#include "support/ftp_client.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdio>
#include <mutex>
#include <system_error>

namespace corvane::ftp {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool HostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// A final reply line: three digits and a blank (or the code alone).
bool IsFinalLine(std::string_view line, int& code) {
  if (line.size() < 3) return false;
  for (int i = 0; i < 3; ++i)
    if (!std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  if (line.size() > 3 && line[3] != ' ') return false;
  code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  return true;
}

struct CurlList {
  curl_slist* list = nullptr;
  ~CurlList() { curl_slist_free_all(list); }
  void Add(const std::string& s) { list = curl_slist_append(list, s.c_str()); }
};

struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

}  // namespace

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
  Endpoint e;
  std::string_view host = text;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    auto close = text.find(']');
    if (close == std::string_view::npos || close < 2) return std::nullopt;
    for (char c : text.substr(1, close - 1))
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return std::nullopt;
    host = text.substr(0, close + 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
      if (port.empty()) return std::nullopt;
    }
  } else {
    auto colon = text.find(':');
    if (colon != std::string_view::npos) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) return std::nullopt;
    }
    if (host.empty()) return std::nullopt;
    for (char c : host)
      if (!HostChar(c)) return std::nullopt;
  }
  if (!port.empty()) {
    if (port.size() > 5) return std::nullopt;
    int n = 0;
    for (char c : port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      n = n * 10 + (c - '0');
    }
    if (n < 1 || n > 65535) return std::nullopt;
    e.port = n;
  }
  e.host = std::string(host);
  return e;
}

struct Client::Impl {
  Settings settings;
  Events events;
  std::string base_url;
  CURL* curl = nullptr;
  bool connected = false;
  // While false, a control connection that libcurl opens on its own (after
  // the server dropped ours) is refused: it would log in again and put the
  // next command in the login folder instead of the folder we moved to.
  bool allow_new_control = false;
  std::atomic<bool> cancel{false};
  bool in_transfer = false;
  std::vector<std::string> reply_lines;
  Reply last;
  std::string download;  // LIST data
  std::FILE* upload_file = nullptr;
  std::FILE* download_file = nullptr;
  bool write_failed = false;
  bool read_failed = false;
  bool refused_reconnect = false;

  ~Impl() { Close(); }

  void Status(const std::string& s) const {
    if (events.status) events.status(s);
  }

  void Close() {
    if (curl) {
      curl_easy_cleanup(curl);  // sends QUIT on a live connection
      curl = nullptr;
    }
    connected = false;
  }

  static size_t OnHeader(char* data, size_t size, size_t n, void* p) {
    auto* self = static_cast<Impl*>(p);
    std::string line(data, size * n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    self->reply_lines.push_back(std::move(line));
    return size * n;
  }

  static size_t OnWriteString(char* data, size_t size, size_t n, void* p) {
    static_cast<Impl*>(p)->download.append(data, size * n);
    return size * n;
  }

  static size_t OnWriteFile(char* data, size_t size, size_t n, void* p) {
    auto* self = static_cast<Impl*>(p);
    size_t done = std::fwrite(data, 1, size * n, self->download_file);
    if (done != size * n) self->write_failed = true;
    return done;
  }

  static size_t OnRead(char* data, size_t size, size_t n, void* p) {
    auto* self = static_cast<Impl*>(p);
    size_t got = std::fread(data, 1, size * n, self->upload_file);
    if (got == 0 && std::ferror(self->upload_file)) {
      self->read_failed = true;
      return CURL_READFUNC_ABORT;
    }
    return got;
  }

  static int OnProgress(void* p, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    auto* self = static_cast<Impl*>(p);
    if (self->cancel.load()) return 1;
    if (self->events.progress) {
      bool up = ultotal > 0 || ulnow > 0;
      self->events.progress(static_cast<std::uint64_t>(up ? ulnow : dlnow),
                            static_cast<std::uint64_t>(up ? ultotal : dltotal));
    }
    return 0;
  }

  static int OnSockOpt(void* p, curl_socket_t, curlsocktype purpose) {
    auto* self = static_cast<Impl*>(p);
    if (purpose == CURLSOCKTYPE_IPCXN && !self->allow_new_control) {
      self->refused_reconnect = true;
      return CURL_SOCKOPT_ERROR;
    }
    return CURL_SOCKOPT_OK;
  }

  // Resets the handle (its live connection is kept) and sets what every
  // request shares, so that libcurl always finds the same connection.
  void Prepare(const std::string& url) {
    curl_easy_reset(curl);
    reply_lines.clear();
    auto ms = [](std::chrono::milliseconds d) { return static_cast<long>(d.count()); };
    auto secs = [](std::chrono::milliseconds d) { return static_cast<long>(std::max<long long>(1, (d.count() + 999) / 1000)); };
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (!settings.user.empty()) {
      curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.c_str());
      curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.password.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 0L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, ms(settings.connect_timeout));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, secs(settings.reply_timeout));
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, ms(settings.reply_timeout));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, secs(settings.stall_timeout));
    // A phase may leave the connection idle while it prepares big files.
    curl_easy_setopt(curl, CURLOPT_MAXAGE_CONN, 30L * 24 * 3600);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &OnSockOpt);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  }

  void EnableProgress() {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  }

  // The last final reply of the request, or libcurl's code when none was
  // seen.
  void ReadLastReply() {
    for (auto it = reply_lines.rbegin(); it != reply_lines.rend(); ++it) {
      int code = 0;
      if (IsFinalLine(*it, code)) {
        last = {code, *it};
        return;
      }
    }
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    last = {static_cast<int>(code), std::to_string(code)};
  }

  bool StillConnected() {
    curl_socket_t s = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &s) != CURLE_OK) return false;
    return s != CURL_SOCKET_BAD;
  }

  std::string Describe(CURLcode rc) const {
    std::string s = curl_easy_strerror(rc);
    if (last.code != 0) s += " (" + last.text + ")";
    return s;
  }

  // Runs the prepared request; a failure that leaves the connection usable
  // is a refusal, any other closes it.
  void Run(bool transfer) {
    if (!curl || !connected) throw Error(ErrorKind::Connection, 0, "not connected");
    if (transfer) {
      cancel = false;
      EnableProgress();
    }
    in_transfer = transfer;
    read_failed = false;
    refused_reconnect = false;
    CURLcode rc = curl_easy_perform(curl);
    in_transfer = false;
    ReadLastReply();
    if (rc == CURLE_OK) {
      if (!StillConnected()) {
        Close();
        Status("Disconnected.");
      }
      return;
    }
    if (rc == CURLE_WRITE_ERROR || (rc == CURLE_ABORTED_BY_CALLBACK && read_failed)) {
      // Our side failed: the connection may be half way through a
      // transfer, so it is not trusted any more.
      Close();
      Status("Disconnected.");
      throw Error(ErrorKind::Local, 0, rc == CURLE_WRITE_ERROR ? "cannot write the local file" : "cannot read the local file");
    }
    if (rc == CURLE_ABORTED_BY_CALLBACK && !refused_reconnect) {
      cancel = false;
      Close();
      Status("Disconnected.");
      throw Error(ErrorKind::Cancelled, 0, "transfer cancelled");
    }
    const bool refusal = last.code >= 400 && last.code < 600 &&
                         (rc == CURLE_UPLOAD_FAILED || rc == CURLE_REMOTE_ACCESS_DENIED ||
                          rc == CURLE_REMOTE_FILE_NOT_FOUND || rc == CURLE_FTP_COULDNT_RETR_FILE ||
                          rc == CURLE_REMOTE_DISK_FULL);
    if (refusal && StillConnected()) throw Error(ErrorKind::Refused, last.code, Describe(rc));
    std::string what = refused_reconnect ? "the connection was closed" : Describe(rc);
    Close();
    Status("Disconnected.");
    throw Error(ErrorKind::Connection, last.code, what);
  }

  Reply CommandOnly(std::string_view line) {
    if (HasLineBreak(line)) throw Error(ErrorKind::Refused, 0, "a command may not hold a line break");
    if (!curl || !connected) throw Error(ErrorKind::Connection, 0, "not connected");
    Prepare(base_url);
    CurlList quote;
    // "*": a refused command is only a reply; without it libcurl closes
    // the connection.
    quote.Add("*" + std::string(line));
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_QUOTE, quote.list);
    Run(false);
    return last;
  }

  void Expect(std::string_view line, std::initializer_list<int> codes) {
    Reply r = CommandOnly(line);
    for (int c : codes)
      if (r.code == c) return;
    throw Error(ErrorKind::Refused, r.code, std::string(line.substr(0, line.find(' '))) + ": " + r.text);
  }

  std::string FileUrl(std::string_view name) {
    if (name.empty() || HasLineBreak(name)) throw Error(ErrorKind::Refused, 0, "bad remote file name");
    char* esc = curl_easy_escape(curl, name.data(), static_cast<int>(name.size()));
    if (!esc) throw Error(ErrorKind::Local, 0, "out of memory");
    std::string url = base_url + esc;
    curl_free(esc);
    return url;
  }
};

Client::Client(Settings settings, Events events) : impl_(std::make_unique<Impl>()) {
  GlobalInit();
  impl_->settings = std::move(settings);
  impl_->events = std::move(events);
  const Endpoint& e = impl_->settings.endpoint;
  impl_->base_url = "ftp://" + e.host + ":" + std::to_string(e.port) + "/";
}

Client::~Client() = default;

void Client::Connect() {
  Impl& m = *impl_;
  m.Close();
  if (!ParseEndpoint(m.settings.endpoint.host) || HasLineBreak(m.settings.user) || HasLineBreak(m.settings.password))
    throw Error(ErrorKind::Connection, 0, "bad host or credentials");
  m.curl = curl_easy_init();
  if (!m.curl) throw Error(ErrorKind::Connection, 0, "cannot start a session");
  m.Status("Connecting to " + m.settings.endpoint.host + ".");
  m.Prepare(m.base_url);
  CurlList quote;
  quote.Add("*TYPE I");
  quote.Add("*SYST");
  curl_easy_setopt(m.curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(m.curl, CURLOPT_QUOTE, quote.list);
  m.allow_new_control = true;
  m.last = {};
  CURLcode rc = curl_easy_perform(m.curl);
  m.allow_new_control = false;
  m.ReadLastReply();
  if (rc != CURLE_OK || !m.StillConnected()) {
    std::string what = m.Describe(rc);
    m.Close();
    throw Error(ErrorKind::Connection, m.last.code, what);
  }
  m.connected = true;
  m.Status("Connected.");
}

bool Client::Connected() const { return impl_->connected; }

void Client::Disconnect() {
  bool was = impl_->connected;
  impl_->Close();
  if (was) impl_->Status("Disconnected.");
}

std::string Client::Pwd() {
  impl_->Expect("PWD", {257});
  const std::string& t = impl_->last.text;
  auto a = t.find('"');
  auto b = a == std::string::npos ? a : t.find('"', a + 1);
  if (b == std::string::npos) throw Error(ErrorKind::Refused, impl_->last.code, "PWD: no folder in the reply");
  return t.substr(a + 1, b - a - 1);
}

void Client::Cwd(std::string_view path) { impl_->Expect("CWD " + std::string(path), {200, 250}); }
void Client::Cdup() { impl_->Expect("CDUP", {200, 250}); }
void Client::Mkd(std::string_view name) { impl_->Expect("MKD " + std::string(name), {257}); }
void Client::Rmd(std::string_view name) { impl_->Expect("RMD " + std::string(name), {250}); }
void Client::Dele(std::string_view name) { impl_->Expect("DELE " + std::string(name), {250}); }
void Client::Noop() { impl_->Expect("NOOP", {200}); }
Reply Client::Command(std::string_view line) { return impl_->CommandOnly(line); }

std::vector<std::string> Client::List() {
  Impl& m = *impl_;
  if (!m.curl || !m.connected) throw Error(ErrorKind::Connection, 0, "not connected");
  m.Prepare(m.base_url);
  m.download.clear();
  curl_easy_setopt(m.curl, CURLOPT_WRITEFUNCTION, &Impl::OnWriteString);
  curl_easy_setopt(m.curl, CURLOPT_WRITEDATA, &m);
  m.Run(true);
  std::vector<std::string> lines;
  std::size_t start = 0;
  const std::string& d = m.download;
  while (start < d.size()) {
    auto end = d.find('\n', start);
    if (end == std::string::npos) end = d.size();
    std::string line = d.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  m.download.clear();
  return lines;
}

void Client::Stor(const std::filesystem::path& local, std::string_view name) {
  Impl& m = *impl_;
  if (!m.curl || !m.connected) throw Error(ErrorKind::Connection, 0, "not connected");
  File f;
  f.f = std::fopen(local.c_str(), "rb");
  if (!f.f) throw Error(ErrorKind::Local, 0, "cannot read " + local.string());
  std::error_code ec;
  auto size = std::filesystem::file_size(local, ec);
  m.Prepare(m.FileUrl(name));
  m.upload_file = f.f;
  curl_easy_setopt(m.curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(m.curl, CURLOPT_READFUNCTION, &Impl::OnRead);
  curl_easy_setopt(m.curl, CURLOPT_READDATA, &m);
  if (!ec) curl_easy_setopt(m.curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  try {
    m.Run(true);
  } catch (...) {
    m.upload_file = nullptr;
    throw;
  }
  m.upload_file = nullptr;
}

void Client::Retr(std::string_view name, const std::filesystem::path& local) {
  Impl& m = *impl_;
  if (!m.curl || !m.connected) throw Error(ErrorKind::Connection, 0, "not connected");
  const std::string url = m.FileUrl(name);
  // The local file is replaced only by a complete copy.
  std::filesystem::path part = local;
  part += ".part";
  File f;
  f.f = std::fopen(part.c_str(), "wb");
  if (!f.f) throw Error(ErrorKind::Local, 0, "cannot write " + part.string());
  m.Prepare(url);
  m.download_file = f.f;
  m.write_failed = false;
  // No SIZE before RETR: the server's announced size is not needed.
  curl_easy_setopt(m.curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  curl_easy_setopt(m.curl, CURLOPT_WRITEFUNCTION, &Impl::OnWriteFile);
  curl_easy_setopt(m.curl, CURLOPT_WRITEDATA, &m);
  std::error_code ec;
  try {
    m.Run(true);
  } catch (...) {
    m.download_file = nullptr;
    std::fclose(f.f);
    f.f = nullptr;
    std::filesystem::remove(part, ec);
    throw;
  }
  m.download_file = nullptr;
  const bool closed = std::fclose(f.f) == 0;
  f.f = nullptr;
  if (!closed || m.write_failed) {
    std::filesystem::remove(part, ec);
    throw Error(ErrorKind::Local, 0, "cannot write " + local.string());
  }
  std::filesystem::rename(part, local, ec);
  if (ec) {
    std::filesystem::remove(part, ec);
    throw Error(ErrorKind::Local, 0, "cannot write " + local.string());
  }
}

void Client::Cancel() { impl_->cancel = true; }

const Reply& Client::LastReply() const { return impl_->last; }

}  // namespace corvane::ftp
