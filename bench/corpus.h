#pragma once

// Deterministic file trees for the benchmarks. A tree is a pure function of
// (preset, seed): names, sizes, contents and modification times are derived
// from the seed with a self-contained generator, so the same seed gives the
// same bytes on every machine and library version.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::bench {

enum class Preset {
  kSmall,  // ~20,000 files of 1-16 KiB in ~1,000 folders
  kLarge,  // ~20 files, 1 GiB in all
  kMixed,  // ~5,000 files from 0 bytes to 64 MiB, most small, in ~300 folders
};
std::optional<Preset> PresetFromName(std::string_view name);

enum class ContentKind {
  kText,    // lines of words from a generated vocabulary; compresses well
  kRandom,  // incompressible bytes
};

// Paths are relative to the tree's root, '/'-separated; times are seconds
// since the epoch.
struct PlannedFolder {
  std::string path;
  std::int64_t mtime = 0;
};
struct PlannedFile {
  std::string path;
  std::uint64_t size = 0;
  ContentKind kind = ContentKind::kText;
  std::uint64_t content_seed = 0;
  std::int64_t mtime = 0;
};
struct Plan {
  std::vector<PlannedFolder> folders;  // parents before children
  std::vector<PlannedFile> files;
  std::int64_t root_mtime = 0;
  std::uint64_t vocabulary_seed = 0;
};

Plan MakePlan(Preset preset, std::uint64_t seed);

// The kind a file's content is given, decided by its extension alone so that
// a rewrite of an existing tree keeps each file's kind.
ContentKind KindForName(std::string_view file_name);

class CorpusError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class NotEmptyError : public CorpusError {
 public:
  using CorpusError::CorpusError;
};

struct WriteOptions {
  unsigned threads = 0;  // 0: one per processor, at most 8
};

// Creates `root` (and missing parents) or uses it if it is an empty folder;
// throws NotEmptyError otherwise. Never replaces or removes anything: files
// are created exclusively.
void WriteTree(const Plan& plan, const std::filesystem::path& root, const WriteOptions& options = {});

// Rewrites a deterministic fraction (rounded to the nearest file count) of the
// regular files under `root`, chosen and filled from `seed`: same size, new
// content, a modification time later than both the old one and any a
// generated tree has. Folder times are left alone. Returns the rewritten
// files' relative paths, sorted.
std::vector<std::string> TouchTree(const std::filesystem::path& root, double fraction, std::uint64_t seed,
                                   const WriteOptions& options = {});

struct TreeStats {
  std::uint64_t files = 0;    // regular files
  std::uint64_t folders = 0;  // below the root, the root not counted
  std::uint64_t bytes = 0;    // total size of the regular files
};
// Symbolic links are neither counted nor followed.
TreeStats ScanTree(const std::filesystem::path& root);

// The corpus_gen command line without the program name; returns the exit
// status (0 done, 1 failed, 2 usage error).
int RunCorpusCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace corvane::bench
