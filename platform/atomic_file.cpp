#include "platform/atomic_file.h"

#include "platform/unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <string>

namespace corvane::platform {
namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.inode = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  id.ctime_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
  return id;
}


bool WriteFully(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Folders whose lock this thread holds: nested calls run directly instead of
// deadlocking on a second lock of their own.
thread_local std::set<std::string> held_folders;

std::filesystem::path FolderOf(const std::filesystem::path& file) {
  auto parent = file.parent_path();
  return parent.empty() ? std::filesystem::path(".") : parent;
}

// A symbolic link to a settings file stays a link: we replace its target.
std::filesystem::path ResolveTarget(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    auto target = std::filesystem::weakly_canonical(path, ec);
    if (!ec) return target;
  }
  return path;
}

}  // namespace

std::optional<FileIdentity> StatIdentity(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& content,
                         FileIdentity* identity) {
  content.clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Error;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return ReadResult::Error;
  if (!S_ISREG(st.st_mode)) return ReadResult::Error;
  if (identity) *identity = IdentityOf(st);
  if (st.st_size > 0) content.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::Error;
    }
    if (n == 0) break;
    content.append(buf, static_cast<std::size_t>(n));
  }
  return ReadResult::Ok;
}

bool WithFolderLock(const std::filesystem::path& folder, const std::function<void()>& body) {
  std::string key = folder.lexically_normal().string();
  if (held_folders.count(key)) {
    body();
    return true;
  }
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return false;
  while (::flock(dir.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  held_folders.insert(key);
  struct Release {
    int fd;
    std::string key;
    ~Release() {
      held_folders.erase(key);
      ::flock(fd, LOCK_UN);
    }
  } release{dir.get(), key};
  body();
  return true;
}

bool LockedReplace(const std::filesystem::path& requested, const ReplaceEdit& edit,
                   mode_t new_file_mode) {
  const std::filesystem::path path = ResolveTarget(requested);
  const std::filesystem::path folder = FolderOf(path);
  bool ok = false;
  bool locked = WithFolderLock(folder, [&] {
    std::string current;
    FileIdentity old_id;
    ReadResult r = ReadWholeFile(path, current, &old_id);
    if (r == ReadResult::Error) return;
    std::optional<std::string> next = edit(r == ReadResult::Ok ? &current : nullptr);
    if (!next) {
      ok = true;
      return;
    }
    mode_t mode = new_file_mode;
    if (r == ReadResult::Ok) {
      struct stat st;
      if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    }
    std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return;
    auto fail = [&] { ::unlink(temp.c_str()); };
    if (::fchmod(fd.get(), mode) != 0 || !WriteFully(fd.get(), *next)) return fail();
    // The new version's time is later than the old one's even when the clock
    // has not moved, so that no reader can mistake it for a version it cached.
    auto now = std::chrono::system_clock::now().time_since_epoch();
    std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    if (r == ReadResult::Ok && ns <= old_id.mtime_ns) ns = old_id.mtime_ns + 1;
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(ns / 1000000000LL);
    times[1].tv_nsec = static_cast<long>(ns % 1000000000LL);
    if (::futimens(fd.get(), times) != 0) return fail();
    if (::fdatasync(fd.get()) != 0) return fail();
    if (::close(fd.release()) != 0) return fail();
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail();
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    ok = true;
  });
  return locked && ok;
}

bool LockedAppend(const std::filesystem::path& requested, std::string_view data, std::string_view line_end,
                  mode_t new_file_mode) {
  const std::filesystem::path path = ResolveTarget(requested);
  const std::filesystem::path folder = FolderOf(path);
  bool ok = false;
  bool locked = WithFolderLock(folder, [&] {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
    bool created = false;
    if (fd.get() < 0 && errno == ENOENT) {
      fd.Reset(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, new_file_mode));
      created = fd.get() >= 0;
    }
    if (fd.get() < 0) return;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::string text;
    if (st.st_size > 0) {
      char last = '\n';
      if (::pread(fd.get(), &last, 1, st.st_size - 1) != 1) return;
      if (last != '\n') text = line_end;
    }
    text += data;
    if (!WriteFully(fd.get(), text)) return;
    if (::fdatasync(fd.get()) != 0) return;
    if (::close(fd.release()) != 0) return;
    if (created) {
      UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (dir.get() >= 0) ::fsync(dir.get());
    }
    ok = true;
  });
  return locked && ok;
}

}  // namespace corvane::platform
