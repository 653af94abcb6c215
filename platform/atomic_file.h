// Whole-file replacement and appends under a lock, shared by every store
// that several processes write (settings files, the registry store, journals).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::platform {

// What tells one version of a file from another. Our writers make the
// modification time strictly increase, so an identity never comes back.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> StatIdentity(const std::filesystem::path& path);

enum class ReadResult { Ok, Missing, Error };
// Reads a whole file and the identity of what was read.
ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& content,
                         FileIdentity* identity = nullptr);

// Under an exclusive lock held by every writer of files in the same folder,
// gives `edit` the current content (null when the file is missing); when it
// returns new content, that content replaces the file through a temporary
// file and a rename, so readers and crashes only ever see whole versions.
// New files get `new_file_mode`; an existing file keeps its mode.
// Returns false when the folder could not be locked or the file not written.
using ReplaceEdit = std::function<std::optional<std::string>(const std::string* current)>;
bool LockedReplace(const std::filesystem::path& path, const ReplaceEdit& edit,
                   mode_t new_file_mode = 0600);

// Under the same lock, adds `data` at the end of the file (created with
// `new_file_mode` when missing) and makes it durable. A file that does not
// end with '\n' (a write a crash cut short) first gets `line_end`, so that
// the torn line never runs into the new ones. Only the new bytes are
// written: what the file held stays as it is even if this write is cut.
bool LockedAppend(const std::filesystem::path& path, std::string_view data, std::string_view line_end,
                  mode_t new_file_mode = 0600);

// Runs `body` while holding the same lock, for work that is not a plain
// replacement (an append, a test-and-set across files).
bool WithFolderLock(const std::filesystem::path& folder, const std::function<void()>& body);

}  // namespace corvane::platform
