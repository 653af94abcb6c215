#include "platform/desktop_integration.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/paths.h"

extern char** environ;

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// ---- small text helpers

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xc2 && c <= 0xdf) {
      n = 1;
      cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      n = 2;
      cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3f);
    }
    if (n == 2 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) return false;
    if (n == 3 && (cp < 0x10000 || cp > 0x10ffff)) return false;
    i += n + 1;
  }
  return true;
}

bool HasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

std::string XmlEscaped(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

// A registry key path as the store matches it: without outer backslashes.
std::string_view TrimKey(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  return key;
}

std::optional<std::string> DefaultText(const RegistryView& view, std::string_view key) {
  if (!view.read) return std::nullopt;
  auto v = view.read(RegRoot::ClassesRoot, key, "");
  if (!v || v->type != RegValue::Type::Text || v->text.empty()) return std::nullopt;
  return v->text;
}

// ---- running a desktop program, bounded in time

struct ProgramResult {
  bool ran = false;
  int exit_code = -1;  // -1 when killed or unknown
  std::string output;  // first 64 KiB of standard output
};

ProgramResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout) {
  ProgramResult result;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ::posix_spawnattr_init(&attr);
  // A group of its own, so that a timeout kills what it started too; and
  // the default signal handling whatever ours is.
  sigset_t none;
  sigset_t defaults;
  ::sigemptyset(&none);
  ::sigemptyset(&defaults);
  ::sigaddset(&defaults, SIGPIPE);
  ::sigaddset(&defaults, SIGCHLD);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  ::posix_spawnattr_setpgroup(&attr, 0);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argv_text{program.string()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attr);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return result;
  }
  result.ran = true;

  const auto deadline = Clock::now() + timeout;
  auto left_ms = [&] {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000));
  };
  bool timed_out = false;
  char buf[4096];
  for (;;) {
    if (Clock::now() >= deadline) {
      timed_out = true;
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    int r = ::poll(&p, 1, left_ms());
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of output: the program is ending
    if (result.output.size() < 65536) result.output.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (timed_out) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }

  int status = 0;
  for (;;) {
    pid_t w = ::waitpid(pid, &status, timed_out ? 0 : WNOHANG);
    if (w == pid) {
      if (!timed_out && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
      break;
    }
    if (w < 0 && errno != EINTR) break;  // ECHILD: reaped by someone else
    if (w == 0) {
      if (Clock::now() >= deadline) {
        timed_out = true;
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        continue;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (timed_out) ::kill(-pid, SIGKILL);  // whatever of its group is left
  return result;
}

// ---- the file types

struct MimeType {
  std::string name;     // application/x-corvane3-...
  std::string comment;  // the type key's name
  std::set<std::string> globs;
  bool text = false;    // has an open command: a text file for the desktop
};

bool UsableExtension(std::string_view ext) {
  if (ext.empty() || HasControl(ext) || !IsValidUtf8(ext)) return false;
  return ext.find_first_of("/\\*?[]") == std::string_view::npos;
}

std::string MimeNameOf(std::string_view type) {
  std::string name(DesktopIntegration::kMimePrefix);
  for (char c : type) {
    char l = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    bool keep = (l >= 'a' && l <= 'z') || (l >= '0' && l <= '9') || l == '.' || l == '_' || l == '+' || l == '-';
    name += keep ? l : '-';
  }
  return name;
}

std::map<std::string, MimeType> CollectTypes(const RegistryView& view) {
  std::map<std::string, MimeType> types;
  if (!view.extension_keys) return types;
  for (const std::string& key_text : view.extension_keys()) {
    std::string_view key = TrimKey(key_text);
    if (key.size() < 2 || key[0] != '.' || key.find('\\') != std::string_view::npos) continue;
    std::string ext(key.substr(1));
    if (!UsableExtension(ext)) continue;
    auto type = DefaultText(view, key);
    if (!type || HasControl(*type) || !IsValidUtf8(*type)) continue;
    std::string name = MimeNameOf(*type);
    MimeType& m = types[name];
    if (m.name.empty()) {
      m.name = name;
      m.comment = *type;
      // Any open command counts: the only program the suite registers is
      // the system's text editor.
      m.text = DefaultText(view, *type + "\\shell\\open\\command").has_value();
    }
    m.globs.insert("*." + FoldName(ext));
  }
  return types;
}

std::string MimePackage(const std::map<std::string, MimeType>& types) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!-- Written by Corvane 3 from the file types of its registry; rewritten when they change. -->\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (const auto& [name, m] : types) {
    xml += "  <mime-type type=\"" + XmlEscaped(name) + "\">\n";
    xml += "    <comment>" + XmlEscaped(m.comment) + "</comment>\n";
    if (m.text) xml += "    <sub-class-of type=\"text/plain\"/>\n";
    for (const auto& g : m.globs) xml += "    <glob pattern=\"" + XmlEscaped(g) + "\"/>\n";
    xml += "  </mime-type>\n";
  }
  xml += "</mime-info>\n";
  return xml;
}

// Our own small files and mimeapps.list; nullopt when missing or unreadable.
std::optional<std::string> ReadSmallFile(const fs::path& path) {
  FileResult opened;
  SharedReadFile f = SharedReadFile::Open(path, &opened);
  if (!f.is_open()) return std::nullopt;
  std::string content;
  char buf[8192];
  for (int turns = 0; turns < 4096; ++turns) {  // 32 MiB at most
    ssize_t n = f.Read(buf, sizeof buf);
    if (n < 0) return std::nullopt;
    if (n == 0) return content;
    content.append(buf, static_cast<std::size_t>(n));
  }
  return std::nullopt;
}

std::optional<std::string> TextEditor(const DesktopTools& tools) {
  if (tools.xdg_mime.empty()) return std::nullopt;
  ProgramResult r = RunProgram(tools.xdg_mime, {"query", "default", "text/plain"}, tools.timeout);
  if (!r.ran || r.exit_code != 0) return std::nullopt;
  std::string id = r.output.substr(0, r.output.find('\n'));
  while (!id.empty() && (id.back() == ' ' || id.back() == '\r' || id.back() == '\t')) id.pop_back();
  constexpr std::string_view kSuffix = ".desktop";
  if (id.size() <= kSuffix.size() || id.compare(id.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
    return std::nullopt;
  bool plain = std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
  if (!plain) return std::nullopt;
  return id;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Sets our types' default applications in mimeapps.list and drops those of
// types that are gone or no longer text; every other line stays as it is.
// `editor` unknown: the entries of our text types are left alone.
std::optional<std::string> EditMimeApps(const std::optional<std::string>& current,
                                        const std::map<std::string, MimeType>& types,
                                        const std::optional<std::string>& editor) {
  std::vector<std::string> lines = current ? SplitLines(*current) : std::vector<std::string>{};
  std::map<std::string, std::string> wanted;  // mime type -> desktop id
  if (editor) {
    for (const auto& [name, m] : types)
      if (m.text) wanted[name] = *editor;
  }
  auto keep_as_is = [&](const std::string& mime) {
    auto it = types.find(mime);
    return !editor && it != types.end() && it->second.text;
  };

  std::vector<std::string> result;
  std::set<std::string> written;
  bool in_defaults = false;
  bool saw_defaults = false;
  std::size_t defaults_end = 0;  // where missing entries go: after the section's last entry
  for (const std::string& line : lines) {
    std::string_view t = TrimBlanks(line);
    if (!t.empty() && t.front() == '[') {
      in_defaults = t == "[Default Applications]";
      if (in_defaults) {
        saw_defaults = true;
        result.push_back(line);
        defaults_end = result.size();
        continue;
      }
    } else if (in_defaults) {
      auto eq = t.find('=');
      std::string key(TrimBlanks(t.substr(0, eq == std::string_view::npos ? 0 : eq)));
      if (eq != std::string_view::npos && key.rfind(DesktopIntegration::kMimePrefix, 0) == 0) {
        auto it = wanted.find(key);
        if (it != wanted.end()) {
          if (written.insert(key).second) {
            result.push_back(key + "=" + it->second);
            defaults_end = result.size();
          }
        } else if (keep_as_is(key)) {
          result.push_back(line);
          defaults_end = result.size();
        }
        continue;
      }
      result.push_back(line);
      if (!t.empty()) defaults_end = result.size();
      continue;
    }
    result.push_back(line);
  }
  std::vector<std::string> missing;
  for (const auto& [mime, id] : wanted)
    if (!written.count(mime)) missing.push_back(mime + "=" + id);
  if (!missing.empty()) {
    if (!saw_defaults) {
      if (!result.empty() && !TrimBlanks(result.back()).empty()) result.push_back("");
      result.push_back("[Default Applications]");
      defaults_end = result.size();
    }
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(defaults_end), missing.begin(), missing.end());
  }
  std::string text;
  for (const auto& l : result) text += l + "\n";
  if (current && text == *current) return std::nullopt;
  // A file that ends without a line end keeps that: only our lines differ.
  if (current && !current->empty() && current->back() != '\n' && text.size() == current->size() + 1 &&
      text.compare(0, current->size(), *current) == 0)
    return std::nullopt;
  if (!current && result.empty()) return std::nullopt;
  return text;
}

bool OlderThan(const fs::path& a, const fs::path& b) {
  std::error_code ea, eb;
  auto ta = fs::last_write_time(a, ea);
  auto tb = fs::last_write_time(b, eb);
  return ea || (!eb && ta < tb);
}

}  // namespace

DesktopPlaces DesktopPlacesOf(const Paths& paths) {
  return {paths.autostart_dir, paths.data_home, paths.autostart_dir.parent_path()};
}

DesktopTools FindDesktopTools(std::string_view search_path) {
  DesktopTools tools;
  auto find = [&](std::string_view name) -> fs::path {
    std::string_view rest = search_path;
    while (true) {
      auto colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      // An empty or relative entry would name the current folder: skipped.
      if (!dir.empty() && dir.front() == '/') {
        fs::path candidate = fs::path(dir) / name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
          return candidate;
      }
      if (colon == std::string_view::npos) return {};
      rest.remove_prefix(colon + 1);
    }
  };
  tools.update_mime_database = find("update-mime-database");
  tools.xdg_mime = find("xdg-mime");
  return tools;
}

DesktopTools DesktopToolsFromEnvironment() {
  const char* path = std::getenv("PATH");
  return FindDesktopTools(path ? path : "/usr/local/bin:/usr/bin:/bin");
}

RegistryView RegistryViewOfStore(fs::path store) {
  RegistryView view;
  view.read = [store](RegRoot root, std::string_view key, std::string_view name) {
    return Registry(store).Read(root, key, name);
  };
  view.extension_keys = [store] {
    std::vector<std::string> keys;
    std::string prefix = std::string(RootName(RegRoot::ClassesRoot)) + "\\";
    for (const std::string& section : IniFile(store).Sections()) {
      if (section.size() <= prefix.size() || !NamesEqual(section.substr(0, prefix.size()), prefix)) continue;
      std::string key = section.substr(prefix.size());
      if (key.size() > 1 && key[0] == '.' && key.find('\\') == std::string::npos) keys.push_back(key);
    }
    return keys;
  };
  return view;
}

DesktopIntegration::DesktopIntegration(DesktopPlaces places, RegistryView registry, DesktopTools tools)
    : places_(std::move(places)), registry_(std::move(registry)), tools_(std::move(tools)) {}

std::optional<std::string> DesktopIntegration::ExecValue(std::string_view program) {
  if (program.empty() || HasControl(program) || !IsValidUtf8(program)) return std::nullopt;
  constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string arg;
  if (program.find_first_of(kReserved) != std::string_view::npos) {
    arg = "\"";
    for (char c : program) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
      arg += c;
    }
    arg += '"';
  } else {
    arg = std::string(program);
  }
  // Field codes, then the string escapes that readers undo first.
  std::string value;
  for (char c : arg) {
    if (c == '%') {
      value += "%%";
    } else if (c == '\\') {
      value += "\\\\";
    } else {
      value += c;
    }
  }
  return value;
}

void DesktopIntegration::ValueWritten(RegRoot root, std::string_view key, std::string_view name,
                                      const RegValue& value) {
  std::lock_guard lock(mutex_);
  if (root == RegRoot::CurrentUser) {
    if (NamesEqual(TrimKey(key), kRunKey) && NamesEqual(name, kRunValue)) SyncAutostart(value);
  } else {
    SyncFileTypes(false);
  }
}

void DesktopIntegration::ValueDeleted(RegRoot root, std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  if (root == RegRoot::CurrentUser) {
    if (NamesEqual(TrimKey(key), kRunKey) && NamesEqual(name, kRunValue)) SyncAutostart(std::nullopt);
  } else {
    SyncFileTypes(false);
  }
}

void DesktopIntegration::SyncAll() {
  std::lock_guard lock(mutex_);
  if (registry_.read) SyncAutostart(registry_.read(RegRoot::CurrentUser, kRunKey, kRunValue));
  SyncFileTypes(true);
}

void DesktopIntegration::SyncAutostart(const std::optional<RegValue>& value) {
  fs::path entry = places_.autostart_dir / kAutostartFile;
  std::optional<std::string> exec;
  // A number, an empty text or one no entry can hold starts nothing, as
  // the log-on start ignores such values: no entry then, not a broken one.
  if (value && value->type == RegValue::Type::Text) exec = ExecValue(value->text);
  if (!exec) {
    DeleteFile(entry);
    return;
  }
  std::string content =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Corvane 3\n"
      "Exec=" + *exec + "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  if (ReadSmallFile(entry) == content) return;
  if (!CreateDirectories(places_.autostart_dir)) return;
  WriteFileAtomically(entry, content, 0644);
}

void DesktopIntegration::SyncFileTypes(bool force) {
  auto types = CollectTypes(registry_);
  fs::path mime_dir = places_.data_home / "mime";
  fs::path package = mime_dir / "packages" / kMimePackage;
  auto current = ReadSmallFile(package);
  bool changed = false;
  if (types.empty()) {
    changed = current.has_value() && DeleteFile(package).ok();
  } else {
    std::string xml = MimePackage(types);
    if (xml != current) {
      if (!CreateDirectories(package.parent_path())) return;
      if (!WriteFileAtomically(package, xml, 0644)) return;
      changed = true;
    }
  }
  // Also when an earlier run could not build the database.
  bool stale = !types.empty() && !tools_.update_mime_database.empty() && OlderThan(mime_dir / "globs2", package);
  if (!changed && !stale && !force) return;

  if (!tools_.update_mime_database.empty()) {
    RunProgram(tools_.update_mime_database, {mime_dir.string()}, tools_.timeout);
  }
  fs::path mimeapps = places_.config_home / "mimeapps.list";
  auto edited = EditMimeApps(ReadSmallFile(mimeapps), types, TextEditor(tools_));
  if (edited && CreateDirectories(places_.config_home)) WriteFileAtomically(mimeapps, *edited, 0644);
}

}  // namespace corvane::platform
