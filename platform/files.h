// Files and directories as the runs use them: listings with attributes,
// 64-bit sizes, nanosecond modification times, and a copy that a crash can
// never leave half-written under the name it delivers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"

namespace corvane::platform {

// The outcome of a file operation: errno (0 on success) and a message that
// names the operation and the path.
struct FileResult {
  int error = 0;
  std::string message;
  bool ok() const { return error == 0; }
  explicit operator bool() const { return ok(); }
};

struct DirEntry {
  std::string name;  // file name only, as stored (bytes)
  bool is_directory = false;
  bool is_regular = false;  // a plain file: not a folder, device, FIFO or socket
  // A symbolic link is described by what it points to; a dangling one as
  // the link itself. Recursive walks use this to avoid loops.
  bool is_symlink = false;
  std::uint64_t size = 0;  // 0 for directories
  DateTime modified;       // nanoseconds kept
  bool hidden = false;     // the name begins with a dot
};

// The entries of a directory except "." and "..", sorted by name in byte
// order so that every file system gives the same order.
FileResult ListDirectory(const std::filesystem::path& dir, std::vector<DirEntry>& entries);
// Attributes of one path, following a symbolic link; nullopt when missing.
std::optional<DirEntry> GetFileInfo(const std::filesystem::path& path);

std::optional<std::uint64_t> FileSize(const std::filesystem::path& path);
bool FileExists(const std::filesystem::path& path);       // anything but a directory
bool DirectoryExists(const std::filesystem::path& path);  // a directory, or a link to one

// Copies the content, permission bits and times (to the nanosecond) of a
// regular file to `destination`, replacing a file already there. The bytes
// go to a file of the destination's folder that takes the destination's
// name only when complete and flushed: the delivered name always holds
// either the old file or the whole new one. Holes of sparse files stay
// holes. Where the file system can (O_TMPFILE), that file has no name
// until then, so a copy killed midway leaves nothing; elsewhere it is a
// temporary ".<name>.corvane-XXXXXX", which its writer holds with an flock
// and RemoveStaleTemporaries clears once its writer is dead.
// How a copy keeps its bytes until it is delivered: without a name where
// the file system can, or always under a named temporary (what file
// systems without O_TMPFILE, network ones among them, get).
enum class StagingKind { Any, Named };
FileResult CopyFileReplacing(const std::filesystem::path& source, const std::filesystem::path& destination,
                             StagingKind kind = StagingKind::Any);

// The same copy in two steps, so that many files can be delivered with one
// flush: StageCopy writes the file (not flushed); Commit gives it the
// destination's name. A copy that replaces a file must be flushed first
// (FlushFileSystem, or Flush) so that a power cut cannot leave the name
// empty; a copy onto a free name need not: the name it takes held nothing
// before, and the caller's own record of what was delivered is written
// only after a flush. A staged copy that is dropped uncommitted leaves
// nothing behind. It keeps its file open (and a named one locked) until
// then.
class StagedCopy {
 public:
  StagedCopy() = default;
  // A named temporary that the caller (or a writer filling it in place)
  // has made or will make.
  StagedCopy(std::string temp, std::filesystem::path destination, int lock_fd = -1);
  // An O_TMPFILE file, owned from now on.
  static StagedCopy Unnamed(int fd, std::filesystem::path destination, bool replaces);
  StagedCopy(StagedCopy&& other) noexcept;
  StagedCopy& operator=(StagedCopy&& other) noexcept;
  StagedCopy(const StagedCopy&) = delete;
  StagedCopy& operator=(const StagedCopy&) = delete;
  ~StagedCopy();

  bool staged() const { return !temp_.empty() || unnamed_; }
  // The temporary name, for a writer that fills it in place; empty for an
  // unnamed file.
  const std::string& temp() const { return temp_; }
  const std::filesystem::path& destination() const { return destination_; }
  // Whether the destination's name was taken when the copy was staged: its
  // delivery must then wait for a flush.
  bool replaces() const { return replaces_; }
  // Flushes this one file's data (where the file system cannot be flushed
  // as a whole).
  FileResult Flush() const;
  FileResult Commit();

 private:
  void Discard();
  void Close();
  std::string temp_;
  std::filesystem::path destination_;
  int fd_ = -1;  // the lock of a named temporary, or the unnamed file itself
  bool unnamed_ = false;
  bool replaces_ = true;
};
// `name_taken` is what the caller saw at the destination's name a moment
// ago, sparing a look; a name taken since is still replaced whole, at the
// cost of a flush of its own.
FileResult StageCopy(const std::filesystem::path& source, const std::filesystem::path& destination,
                     StagedCopy& staged, StagingKind kind = StagingKind::Any,
                     std::optional<bool> name_taken = std::nullopt);
// Removes from `dir` (not its subfolders) the temporary files our copies
// and atomic writes leave when they are killed midway: regular files named
// ".<name>.corvane-XXXXXX" whose flock can be taken, so that a live
// writer's temporary, in this process or another, always stays. Returns how
// many went; nothing is removed where the folder or its files cannot be
// locked.
std::size_t RemoveStaleTemporaries(const std::filesystem::path& dir);
// Whether a file name has the form of those temporaries.
bool IsCopyTemporaryName(std::string_view name);

// Writes out everything pending on the file system that holds `path`.
FileResult FlushFileSystem(const std::filesystem::path& path);

// Writes `content` to `path` the same way: a temporary file in the same
// folder, flushed, then renamed over the target. New files get `mode`; an
// existing file keeps its own mode.
FileResult WriteFileAtomically(const std::filesystem::path& path, std::string_view content, mode_t mode = 0644);

// Deletes a file (never a directory). A missing file is an error (ENOENT).
FileResult DeleteFile(const std::filesystem::path& path);
// Creates a directory and its missing parents; an existing directory is
// success, an existing non-directory is ENOTDIR.
FileResult CreateDirectories(const std::filesystem::path& path);

// A file opened for reading while others may go on reading and writing it.
// POSIX takes no share lock on open, so this is a plain O_RDONLY open; the
// content read is whatever is there at each read.
class SharedReadFile {
 public:
  SharedReadFile() = default;
  static SharedReadFile Open(const std::filesystem::path& path, FileResult* result = nullptr);
  ~SharedReadFile();
  SharedReadFile(SharedReadFile&& other) noexcept;
  SharedReadFile& operator=(SharedReadFile&& other) noexcept;
  SharedReadFile(const SharedReadFile&) = delete;
  SharedReadFile& operator=(const SharedReadFile&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Reads up to `size` bytes; returns the count (0 at the end), -1 on error.
  ssize_t Read(void* buffer, std::size_t size);
  void Close();

 private:
  explicit SharedReadFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace corvane::platform
