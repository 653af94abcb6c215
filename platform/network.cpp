#include "platform/network.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/paths.h"

namespace corvane::platform {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// GVFS escapes some characters of the names in its folder names.
std::string PercentDecoded(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int hi = HexDigit(s[i + 1]);
      int lo = HexDigit(s[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// Does a GVFS folder name describe the share `computer`/`share`?
bool GvfsNames(std::string_view folder, std::string_view computer, std::string_view share) {
  constexpr std::string_view kPrefix = "smb-share:";
  if (folder.substr(0, kPrefix.size()) != kPrefix) return false;
  folder.remove_prefix(kPrefix.size());
  bool server_ok = false;
  bool share_ok = false;
  while (!folder.empty()) {
    auto comma = folder.find(',');
    std::string_view item = folder.substr(0, comma);
    folder = comma == std::string_view::npos ? std::string_view() : folder.substr(comma + 1);
    auto eq = item.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = item.substr(0, eq);
    std::string value = PercentDecoded(item.substr(eq + 1));
    if (key == "server") server_ok = EqualNoCase(value, computer);
    if (key == "share") share_ok = EqualNoCase(value, share);
  }
  return server_ok && share_ok;
}

// The entry of `dir` that `match` accepts, the exact `preferred` name first;
// several matches give the first in byte order so the choice is stable.
template <class Match>
std::optional<std::string> FindEntry(const std::filesystem::path& dir, const std::string& preferred, Match match) {
  struct stat st {};
  if (::stat((dir / preferred).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return preferred;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return std::nullopt;
  std::unique_ptr<DIR, int (*)(DIR*)> guard(d, ::closedir);
  std::optional<std::string> best;
  while (dirent* de = ::readdir(d)) {
    std::string name = de->d_name;
    if (name == "." || name == ".." || !match(name)) continue;
    if (!best || name < *best) best = name;
  }
  return best;
}

// The share's mount folder, or where it would be when nothing is mounted.
std::filesystem::path ShareFolder(const NetworkRoot& root, const NetworkPath& p) {
  if (root.gvfs) {
    std::string canonical = "smb-share:server=" + p.computer + ",share=" + p.share;
    auto found = FindEntry(root.path, canonical,
                           [&](const std::string& name) { return GvfsNames(name, p.computer, p.share); });
    return root.path / found.value_or(canonical);
  }
  auto computer = FindEntry(root.path, p.computer,
                            [&](const std::string& name) { return EqualNoCase(name, p.computer); });
  std::filesystem::path host = root.path / computer.value_or(p.computer);
  auto share = FindEntry(host, p.share, [&](const std::string& name) { return EqualNoCase(name, p.share); });
  return host / share.value_or(p.share);
}

bool IsDotName(std::string_view s) { return s == "." || s == ".."; }

int CodeOf(int error) {
  switch (error) {
    case 0:
      return kNetOk;
    case EACCES:
    case EPERM:
      return kNetAccessDenied;
    case ENOENT:
    case ENOTDIR:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN:
    case ECONNREFUSED:
    case ETIMEDOUT:
    case ENOTCONN:  // a FUSE mount whose daemon went away
      return kNetNotFound;
    default:
      return kNetErrnoBase + error;
  }
}

}  // namespace

std::string ComputerName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

NetworkRoot NetworkRootOf(const Paths& paths) { return {paths.network_root, paths.network_root_is_gvfs}; }

NetworkRoot NetworkRootFromEnvironment() { return NetworkRootOf(ResolvePaths(ProcessEnvironment(), {})); }

std::optional<NetworkPath> SplitNetworkPath(std::string_view path) {
  if (path.size() < 2 || path.substr(0, 2) != "//") return std::nullopt;
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  path.remove_prefix(2);
  auto slash = path.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  NetworkPath p;
  p.computer = std::string(path.substr(0, slash));
  path.remove_prefix(slash + 1);
  slash = path.find('/');
  p.share = std::string(path.substr(0, slash));
  p.rest = slash == std::string_view::npos ? std::string() : std::string(path.substr(slash + 1));
  if (p.computer.empty() || p.share.empty() || IsDotName(p.computer) || IsDotName(p.share)) return std::nullopt;
  // Nothing may lead outside the share, whatever the mount under it does.
  int depth = 0;
  std::string_view rest = p.rest;
  while (!rest.empty()) {
    auto s = rest.find('/');
    std::string_view part = rest.substr(0, s);
    rest = s == std::string_view::npos ? std::string_view() : rest.substr(s + 1);
    if (part.empty() || part == ".") continue;
    depth += part == ".." ? -1 : 1;
    if (depth < 0) return std::nullopt;
  }
  return p;
}

bool IsRemotePath(std::string_view path, std::string_view computer_name) {
  if (path.substr(0, 2) != "//") return false;
  path.remove_prefix(2);
  return path.substr(0, path.find('/')) != computer_name;
}

std::optional<ResolvedPath> ResolveNetworkPath(std::string_view path, const NetworkRoot& root,
                                               std::string_view computer_name) {
  if (path.substr(0, 2) != "//") return ResolvedPath{std::filesystem::path(path), true};
  auto p = SplitNetworkPath(path);
  if (!p) return std::nullopt;
  ResolvedPath r;
  r.local_computer = p->computer == computer_name;
  r.local = ShareFolder(root, *p);
  if (!p->rest.empty()) r.local /= p->rest;
  return r;
}

int ProbeNetworkPath(std::string_view path, const NetworkRoot& root) {
  auto p = SplitNetworkPath(path);
  if (!p) return kNetErrnoBase + EINVAL;
  // The folder part: up to the last "/" of the rest. "share/file" and the
  // share root itself both probe the share.
  auto last = p->rest.rfind('/');
  std::string folder = last == std::string::npos ? std::string() : p->rest.substr(0, last);

  struct stat st {};
  if (::stat(root.path.c_str(), &st) != 0) return CodeOf(errno);
  if (!S_ISDIR(st.st_mode)) return kNetNotFound;
  std::filesystem::path share = ShareFolder(root, *p);
  std::filesystem::path target = folder.empty() ? share : share / folder;
  int fd = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return CodeOf(errno);
  ::close(fd);
  // Reading the listing is not enough to work in it: its files are reached
  // through search permission.
  if (::faccessat(AT_FDCWD, target.c_str(), R_OK | X_OK, AT_EACCESS) != 0) return CodeOf(errno);
  return kNetOk;
}

}  // namespace corvane::platform
