#include "cli/secrets.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace corvane::cli {

namespace {

// Longer than any password; stops a mistaken "--key-file /dev/zero".
constexpr std::size_t kMaxSecretBytes = 64 * 1024;

void DropLineEnd(std::string& s) {
  if (!s.empty() && s.back() == '\n') s.pop_back();
  if (!s.empty() && s.back() == '\r') s.pop_back();
}

}  // namespace

std::optional<std::string> ReadSecretFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return std::nullopt;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  auto secret = ReadSecretStream(fd);
  ::close(fd);
  return secret;
}

std::optional<std::string> ReadSecretStream(int fd) {
  std::string s;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    s.append(buf, static_cast<std::size_t>(n));
    if (s.size() > kMaxSecretBytes) return std::nullopt;
  }
  DropLineEnd(s);
  return s;
}

std::optional<std::string> ReadSecretTerminal(std::string_view prompt) {
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  // Key by key, and without the terminal's signals: an interrupt typed now
  // must not end the process with echo left off. It abandons the entry.
  termios quiet = saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON | ISIG));
  quiet.c_cc[VMIN] = 1;
  quiet.c_cc[VTIME] = 0;
  // Quiet before the prompt shows: nothing typed after it may echo.
  if (::tcsetattr(fd, TCSAFLUSH, &quiet) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  (void)!::write(fd, prompt.data(), prompt.size());
  std::string s;
  bool ok = true;
  for (;;) {
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == saved.c_cc[VINTR] || c == saved.c_cc[VQUIT] || (c == saved.c_cc[VEOF] && s.empty())) {
      ok = false;
      break;
    }
    if (c == '\n' || c == '\r' || c == saved.c_cc[VEOF]) break;
    if (c == saved.c_cc[VERASE] || c == '\b') {
      // One character less, a whole UTF-8 sequence at a time.
      while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
      if (!s.empty()) s.pop_back();
      continue;
    }
    if (c == saved.c_cc[VKILL]) {
      s.clear();
      continue;
    }
    s += c;
    if (s.size() > kMaxSecretBytes) {
      ok = false;
      break;
    }
  }
  ::tcsetattr(fd, TCSAFLUSH, &saved);
  (void)!::write(fd, "\n", 1);
  ::close(fd);
  if (!ok) return std::nullopt;
  return s;
}

}  // namespace corvane::cli
