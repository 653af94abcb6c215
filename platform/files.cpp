#include "platform/files.h"

#include "platform/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <cstdio>

namespace corvane::platform {
namespace {

FileResult Fail(int error, const std::string& what, const std::filesystem::path& path) {
  return {error, what + " " + path.string() + ": " + std::strerror(error)};
}

DateTime FromTimespec(const timespec& ts) {
  using std::chrono::nanoseconds;
  using std::chrono::seconds;
  // A time past what a DateTime holds is shown as the nearest it can hold.
  constexpr auto kMax = std::chrono::duration_cast<seconds>(DateTime::duration::max()).count() - 1;
  constexpr auto kMin = std::chrono::duration_cast<seconds>(DateTime::duration::min()).count() + 1;
  auto s = std::clamp<std::int64_t>(ts.tv_sec, kMin, kMax);
  return DateTime(std::chrono::duration_cast<DateTime::duration>(seconds(s) + nanoseconds(ts.tv_nsec)));
}

DirEntry EntryFromStat(std::string name, const struct stat& st, bool is_symlink) {
  DirEntry e;
  e.hidden = !name.empty() && name[0] == '.';
  e.name = std::move(name);
  e.is_directory = S_ISDIR(st.st_mode);
  e.is_regular = S_ISREG(st.st_mode);
  e.is_symlink = is_symlink;
  e.size = e.is_directory ? 0 : static_cast<std::uint64_t>(st.st_size);
  e.modified = FromTimespec(st.st_mtim);
  return e;
}


constexpr std::string_view kTempMark = ".corvane-";
constexpr std::size_t kTempRandom = 6;  // mkostemp's XXXXXX

int FlockRetry(int fd, int operation) {
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// ".<target's name>.corvane-", to which the random part is added; kept
// within NAME_MAX however long the target's name is.
std::string TemporaryStem(const std::filesystem::path& target) {
  std::string name = target.filename().string();
  if (name.size() > 200) name.resize(200);
  return "." + name + std::string(kTempMark);
}

// A temporary file beside `target`, removed unless Keep() is called. It is
// locked (flock) as long as its descriptor is open, and its name appears
// under a shared lock of the folder, so that RemoveStaleTemporaries, which
// holds the folder exclusively, never sees a live temporary unlocked.
class TempFile {
 public:
  int Create(const std::filesystem::path& target) {
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::string templ = dir / (TemporaryStem(target) + "XXXXXX");
    UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Where folders cannot be locked, the cleaner cannot lock them either
    // and removes nothing.
    if (folder.get() >= 0) FlockRetry(folder.get(), LOCK_SH);
    int fd = ::mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    ::flock(fd, LOCK_EX | LOCK_NB);  // a new file: nobody else can hold it
    path_ = templ;
    fd_ = fd;
    return 0;
  }
  // A second descriptor that keeps the lock after CloseFd; -1 on failure.
  int DupLock() const { return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0); }
  ~TempFile() {
    // Removed before its lock goes.
    if (!path_.empty()) ::unlink(path_.c_str());
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  int CloseFd() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }
  void Keep() { path_.clear(); }

 private:
  int fd_ = -1;
  std::string path_;
};

int WriteAll(int fd, const char* data, std::size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return 0;
}

// How bytes move from one file to the other; each step down is kept for
// the rest of the copy once the kernel refused the one above.
enum class Method { CopyFileRange, Sendfile, ReadWrite };

bool KernelDeclined(int error) {
  return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP ||
         error == EPERM || error == EBADF;
}

// Copies [offset, offset + length) to the same place in `out`. Sets `eof`
// when the source ended early (it shrank while being copied).
int CopyRange(int in, int out, off_t offset, off_t length, Method& method, bool& eof) {
  constexpr std::size_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer;
  off_t done = 0;
  while (done < length) {
    auto want = static_cast<std::size_t>(std::min<off_t>(length - done, off_t{1} << 30));
    off_t pos = offset + done;
    ssize_t n = -1;
    if (method == Method::CopyFileRange) {
      loff_t in_off = pos;
      loff_t out_off = pos;
      n = ::copy_file_range(in, &in_off, out, &out_off, want, 0);
      // Some file systems answer 0 where they cannot copy: let a plain read
      // decide whether this is really the end.
      if (n < 0 && errno != EINTR && KernelDeclined(errno)) {
        method = Method::Sendfile;
        continue;
      }
      if (n == 0) {
        method = Method::ReadWrite;
        continue;
      }
    } else if (method == Method::Sendfile) {
      if (::lseek(out, pos, SEEK_SET) < 0) return errno;
      off_t in_off = pos;
      n = ::sendfile(out, in, &in_off, want);
      if ((n < 0 && errno != EINTR && KernelDeclined(errno)) || n == 0) {
        method = Method::ReadWrite;
        continue;
      }
    } else {
      if (!buffer) buffer = std::make_unique<char[]>(kChunk);
      n = ::pread(in, buffer.get(), std::min(want, kChunk), pos);
      if (n > 0) {
        if (int e = WriteAll(out, buffer.get(), static_cast<std::size_t>(n), pos)) return e;
      } else if (n == 0) {
        eof = true;
        return 0;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += n;
  }
  return 0;
}

// Copies the data of a `size`-byte file, skipping its holes; `copied` is
// where the source's content ended. `sized` tells whether the output's
// length already is `copied` (otherwise a trailing hole or an early end
// leaves it to be set).
int CopyContent(int in, int out, const struct stat& st, off_t& copied, bool& sized) {
  const off_t size = st.st_size;
  Method method = Method::CopyFileRange;
  // A file with a block for every byte has no hole to look for: one
  // extent, two lseeks less per file, and its length comes with the data.
  const bool dense = st.st_blocks * 512 >= size;
  sized = dense;
  off_t pos = 0;
  // Each turn moves past one data extent, so this ends; the bound guards
  // against a file system that reports extents inconsistently.
  for (int turns = 0; pos < size; ++turns) {
    off_t data = dense ? pos : ::lseek(in, pos, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // nothing but a hole up to the end
      data = pos;                 // no hole support: all of it is data
    }
    if (data >= size) break;
    off_t hole = dense ? size : ::lseek(in, data, SEEK_HOLE);
    if (hole <= data || hole > size || turns > (1 << 20)) hole = size;
    bool eof = false;
    if (int e = CopyRange(in, out, data, hole - data, method, eof)) return e;
    if (eof) {
      // The source shrank: its end is wherever the reads stopped.
      sized = false;
      struct stat now {};
      copied = ::fstat(in, &now) == 0 ? std::min<off_t>(size, now.st_size) : data;
      return 0;
    }
    pos = hole;
  }
  copied = size;
  return 0;
}

}  // namespace

FileResult ListDirectory(const std::filesystem::path& dir, std::vector<DirEntry>& entries) {
  entries.clear();
  DIR* d = ::opendir(dir.c_str());
  if (!d) return Fail(errno, "cannot list", dir);
  std::unique_ptr<DIR, int (*)(DIR*)> guard(d, ::closedir);
  int dfd = ::dirfd(d);
  for (;;) {
    errno = 0;
    dirent* de = ::readdir(d);
    if (!de) {
      if (errno != 0) {
        int e = errno;
        entries.clear();
        return Fail(e, "cannot list", dir);
      }
      break;
    }
    std::string name = de->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(dfd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    bool link = S_ISLNK(st.st_mode);
    if (link) {
      struct stat target {};
      if (::fstatat(dfd, de->d_name, &target, 0) == 0) st = target;
    }
    entries.push_back(EntryFromStat(std::move(name), st, link));
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return {};
}

std::optional<DirEntry> GetFileInfo(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  bool link = S_ISLNK(st.st_mode);
  if (link) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) st = target;
  }
  return EntryFromStat(path.filename().string(), st, link);
}

std::optional<std::uint64_t> FileSize(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool FileExists(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// Whether a name is taken (by anything, a dangling link too): delivering
// onto it replaces something.
bool NameTaken(const std::filesystem::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Files opened with O_TMPFILE get their name through /proc; without it
// (some containers) the named temporaries are used.
bool CanNameOpenFiles() {
  static const bool ok = ::access("/proc/self/fd", X_OK) == 0;
  return ok;
}

int LinkOpenFile(int fd, const std::filesystem::path& name) {
  char proc[40];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// A fresh name of the temporaries' form beside `target`.
std::filesystem::path TemporaryName(const std::filesystem::path& target) {
  static constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  thread_local std::mt19937_64 rng{(std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()};
  std::string name = TemporaryStem(target);
  for (std::size_t i = 0; i < kTempRandom; ++i) name += kAlphabet[rng() % (sizeof kAlphabet - 1)];
  return target.parent_path() / name;
}

// Copies content, mode and times of a regular file into a new file of the
// destination's folder. Where the file system allows it the file has no
// name yet (O_TMPFILE): a copy killed midway leaves nothing at all.
// Otherwise it is a named temporary, kept on success and held locked.
FileResult CopyToStaging(const std::filesystem::path& source, const std::filesystem::path& destination,
                         StagingKind kind, std::optional<bool> name_taken, StagedCopy& staged) {
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer; it has
  // no effect on the regular files we go on with.
  UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (in.get() < 0) return Fail(errno, "cannot open for reading", source);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return Fail(errno, "cannot read the attributes of", source);
  if (!S_ISREG(st.st_mode)) return Fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, "not a regular file:", source);

  std::filesystem::path dir = destination.parent_path();
  if (dir.empty()) dir = ".";
  UniqueFd anonymous;
  if (kind == StagingKind::Any && CanNameOpenFiles())
    anonymous.Reset(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  TempFile temp;
  int out = anonymous.get();
  if (out < 0) {
    if (int e = temp.Create(destination)) {
      return Fail(e, "cannot create a temporary file in", destination.parent_path());
    }
    out = temp.fd();
  }
  const std::string& shown = anonymous.get() >= 0 ? destination.string() : temp.path();
  off_t copied = 0;
  bool sized = true;
  if (int e = CopyContent(in.get(), out, st, copied, sized)) {
    return {e, "cannot copy " + source.string() + " to " + destination.string() + ": " + std::strerror(e)};
  }
  // Trailing holes make no data extent: the length sets them.
  if (!sized && ::ftruncate(out, copied) != 0) return Fail(errno, "cannot size", shown);
  if (::fchmod(out, st.st_mode & 0777) != 0) return Fail(errno, "cannot set the mode of", shown);
  // Last, so that no write comes after it.
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(out, times) != 0) return Fail(errno, "cannot set the times of", shown);
  if (anonymous.get() >= 0) {
    const bool replaces = name_taken ? *name_taken : NameTaken(destination);
    staged = StagedCopy::Unnamed(anonymous.release(), destination, replaces);
    return {};
  }
  // The lock goes on in a descriptor of its own: the writing one is closed
  // now so that a late write error (NFS, quota) is seen here.
  UniqueFd lock(temp.DupLock());
  if (lock.get() < 0) return Fail(errno, "cannot keep open", temp.path());
  if (int e = temp.CloseFd()) return Fail(e, "cannot write", temp.path());
  staged = StagedCopy(temp.path(), destination, lock.release());
  temp.Keep();
  return {};
}

}  // namespace

FileResult CopyFileReplacing(const std::filesystem::path& source, const std::filesystem::path& destination,
                             StagingKind kind) {
  // Flushed before it takes the name: after a power cut the name holds the
  // old file or the new one, never an empty one.
  StagedCopy staged;
  if (auto r = CopyToStaging(source, destination, kind, std::nullopt, staged); !r) return r;
  if (auto r = staged.Flush(); !r) return r;
  return staged.Commit();
}

StagedCopy::StagedCopy(std::string temp, std::filesystem::path destination, int lock_fd)
    : temp_(std::move(temp)), destination_(std::move(destination)), fd_(lock_fd), replaces_(NameTaken(destination_)) {}

StagedCopy StagedCopy::Unnamed(int fd, std::filesystem::path destination, bool replaces) {
  StagedCopy c;
  c.destination_ = std::move(destination);
  c.fd_ = fd;
  c.unnamed_ = true;
  c.replaces_ = replaces;
  return c;
}

StagedCopy::StagedCopy(StagedCopy&& other) noexcept
    : temp_(std::exchange(other.temp_, {})),
      destination_(std::move(other.destination_)),
      fd_(std::exchange(other.fd_, -1)),
      unnamed_(std::exchange(other.unnamed_, false)),
      replaces_(other.replaces_) {}

StagedCopy& StagedCopy::operator=(StagedCopy&& other) noexcept {
  if (this != &other) {
    Discard();
    temp_ = std::exchange(other.temp_, {});
    destination_ = std::move(other.destination_);
    fd_ = std::exchange(other.fd_, -1);
    unnamed_ = std::exchange(other.unnamed_, false);
    replaces_ = other.replaces_;
  }
  return *this;
}

StagedCopy::~StagedCopy() { Discard(); }

void StagedCopy::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  unnamed_ = false;
}

void StagedCopy::Discard() {
  // Removed while still locked: no cleaner can take it for a dead one's.
  // An unnamed file goes with its last descriptor.
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  Close();
}

FileResult StagedCopy::Flush() const {
  if (!staged()) return Fail(EINVAL, "nothing staged for", destination_);
  if (fd_ >= 0) {
    if (::fdatasync(fd_) != 0) return Fail(errno, "cannot flush", unnamed_ ? destination_.string() : temp_);
    return {};
  }
  UniqueFd fd(::open(temp_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0 || ::fdatasync(fd.get()) != 0) return Fail(errno, "cannot flush", temp_);
  return {};
}

FileResult StagedCopy::Commit() {
  if (!staged()) return Fail(EINVAL, "nothing staged for", destination_);
  if (unnamed_) {
    if (!replaces_) {
      const int e = LinkOpenFile(fd_, destination_);
      if (e == 0) {
        Close();
        return {};
      }
      if (e != EEXIST) {
        Discard();
        return Fail(e, "cannot deliver", destination_);
      }
      // Something took the name meanwhile: replace it as a whole, which
      // needs this file on disk first.
      if (::fdatasync(fd_) != 0) {
        const int f = errno;
        Discard();
        return Fail(f, "cannot flush", destination_);
      }
    }
    // A rename is what replaces atomically, and it needs a name to start
    // from: a temporary one, locked before it appears (through this very
    // descriptor) and under the folder's shared lock, as the cleaner of
    // stale temporaries expects.
    ::flock(fd_, LOCK_EX | LOCK_NB);  // nobody else can hold an unnamed file
    std::filesystem::path dir = destination_.parent_path();
    UniqueFd folder(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) FlockRetry(folder.get(), LOCK_SH);
    int e = EEXIST;
    for (int attempt = 0; attempt < 16 && e == EEXIST; ++attempt) {
      auto name = TemporaryName(destination_);
      e = LinkOpenFile(fd_, name);
      if (e == 0) temp_ = name.string();
    }
    folder.Close();
    if (e != 0) {
      Discard();
      return Fail(e, "cannot stage a replacement for", destination_);
    }
    unnamed_ = false;  // from here on it is a named temporary like any other
  }
  if (::rename(temp_.c_str(), destination_.c_str()) != 0) {
    int e = errno;
    Discard();
    return Fail(e, "cannot replace", destination_);
  }
  temp_.clear();
  Close();
  return {};
}

FileResult StageCopy(const std::filesystem::path& source, const std::filesystem::path& destination,
                     StagedCopy& staged, StagingKind kind, std::optional<bool> name_taken) {
  staged = StagedCopy();
  return CopyToStaging(source, destination, kind, name_taken, staged);
}

bool IsCopyTemporaryName(std::string_view name) {
  const std::size_t tail = kTempMark.size() + kTempRandom;
  // "." + at least one character of the target's name + the tail.
  if (name.size() < 2 + tail || name[0] != '.') return false;
  if (name.substr(name.size() - tail, kTempMark.size()) != kTempMark) return false;
  for (char c : name.substr(name.size() - kTempRandom)) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  return true;
}

std::size_t RemoveStaleTemporaries(const std::filesystem::path& dir) {
  if (dir.empty()) return 0;
  UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return 0;
  // No writer can make a temporary appear while this is held, so each one
  // seen is either locked by its live writer or left by a dead one.
  if (FlockRetry(folder.get(), LOCK_EX) != 0) return 0;
  UniqueFd listing(::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
  if (listing.get() < 0) return 0;
  DIR* d = ::fdopendir(listing.get());
  if (!d) return 0;
  listing.release();  // the DIR owns it now
  std::unique_ptr<DIR, int (*)(DIR*)> guard(d, ::closedir);
  std::vector<std::string> candidates;
  while (dirent* de = ::readdir(d)) {
    if (IsCopyTemporaryName(de->d_name)) candidates.emplace_back(de->d_name);
  }
  std::size_t removed = 0;
  for (const auto& name : candidates) {
    UniqueFd fd(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) continue;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its writer lives, or no lock here
    // Still the file that was locked under that name.
    struct stat now {};
    if (::fstatat(folder.get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != st.st_dev ||
        now.st_ino != st.st_ino)
      continue;
    if (::unlinkat(folder.get(), name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

FileResult FlushFileSystem(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return Fail(errno, "cannot open", path);
  if (::syncfs(fd.get()) != 0) return Fail(errno, "cannot flush the file system of", path);
  return {};
}

FileResult WriteFileAtomically(const std::filesystem::path& path, std::string_view content, mode_t mode) {
  std::filesystem::path target = path;
  // Replace what a symbolic link points to, not the link: dotfile managers
  // keep such files as links into their own trees.
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (!ec) target = resolved;
  }
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

  TempFile temp;
  if (int e = temp.Create(target)) return Fail(e, "cannot create a temporary file in", target.parent_path());
  if (int e = WriteAll(temp.fd(), content.data(), content.size(), 0)) return Fail(e, "cannot write", temp.path());
  if (::fchmod(temp.fd(), mode) != 0) return Fail(errno, "cannot set the mode of", temp.path());
  if (::fdatasync(temp.fd()) != 0) return Fail(errno, "cannot flush", temp.path());
  if (int e = temp.CloseFd()) return Fail(e, "cannot write", temp.path());
  if (::rename(temp.path().c_str(), target.c_str()) != 0) return Fail(errno, "cannot replace", target);
  temp.Keep();
  return {};
}

FileResult DeleteFile(const std::filesystem::path& path) {
  if (::unlink(path.c_str()) != 0) return Fail(errno, "cannot delete", path);
  return {};
}

namespace {

// Most calls find the parents there already: the folder itself is tried
// first, and the parents only when it says they are missing.
FileResult MakeDirectory(const std::filesystem::path& path, int depth) {
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  int e = errno;
  if (e == ENOENT && depth < 4096) {
    const auto parent = path.parent_path();
    if (!parent.empty() && parent != path) {
      if (auto r = MakeDirectory(parent, depth + 1); !r) return r;
      if (::mkdir(path.c_str(), 0777) == 0) return {};
      e = errno;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return {};
    return Fail(ENOTDIR, "cannot create the directory", path);
  }
  return Fail(e, "cannot create the directory", path);
}

}  // namespace

FileResult CreateDirectories(const std::filesystem::path& path) {
  if (path.empty()) return Fail(ENOENT, "cannot create the directory", path);
  // "a/b/" names the folder "a/b".
  auto p = path;
  for (int i = 0; i < 64 && !p.has_filename() && p.has_parent_path() && p != p.root_path(); ++i) p = p.parent_path();
  if (p == p.root_path()) return {};
  return MakeDirectory(p, 0);
}

SharedReadFile SharedReadFile::Open(const std::filesystem::path& path, FileResult* result) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (result) *result = fd < 0 ? Fail(errno, "cannot open for reading", path) : FileResult{};
  return SharedReadFile(fd);
}

SharedReadFile::~SharedReadFile() { Close(); }

SharedReadFile::SharedReadFile(SharedReadFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

SharedReadFile& SharedReadFile::operator=(SharedReadFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

ssize_t SharedReadFile::Read(void* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

void SharedReadFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace corvane::platform
