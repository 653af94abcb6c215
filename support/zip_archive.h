// The ZIP component (PKWARE format, over libzip): adding files to an
// archive, listing, deleting and extracting its entries. Every operation
// opens the archive, does its work and closes it; nothing is kept between
// calls, so any number of threads may work on different archives at once.
//
// An archive is only ever replaced whole: libzip writes the new archive to a
// temporary file beside it and renames it over the old one when complete,
// so a failure leaves either the old archive or none, never a partial one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"

namespace corvane {

// Any failure of the component, with the archive and the cause in the text.
class ZipError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ZipAddOptions {
  int level = 9;                // 0 stores, 1 to 9 deflate (9 smallest)
  bool keep_dir_names = true;   // entry = the file's path without its root; else the bare name
  std::string password;         // not empty: traditional PKWARE encryption of every added entry
  bool replace = false;         // a new archive replaces whatever file is at the path
};

// Entry name of an added file: "/home/anne/Docs/a.txt" gives
// "home/anne/Docs/a.txt" with folder names, "a.txt" without.
std::string ZipEntryName(const std::filesystem::path& file, bool keep_dir_names);

// Names whose ending says the content is already compressed; such files are
// stored, since deflate would only cost time.
bool IsAlreadyCompressed(std::string_view file_name);

// Adds the files to the archive at `archive`, creating it when absent. An
// entry of the same name already there (or added earlier in the list) is
// replaced. A file that is not an archive is refused, never overwritten.
// Throws ZipError; on failure the archive is as it was (or still absent).
void AddFilesToZip(const std::filesystem::path& archive, const std::vector<std::filesystem::path>& files,
                   const ZipAddOptions& options);

struct ZipEntry {
  std::string name;                 // as stored, "/" separators
  std::uint64_t compressed_size = 0;
  std::uint64_t size = 0;
  std::uint16_t dos_date = 0;       // the directory's DOS date and time
  std::uint16_t dos_time = 0;
  bool encrypted = false;
  bool is_directory = false;        // the name ends with "/"
  // The DOS date-time as local time.
  platform::DateTime Modified() const;
};

// The entries in directory order; a missing archive has none.
std::vector<ZipEntry> ListZipEntries(const std::filesystem::path& archive);

// Deletes the named entries. A name that is not in the archive is an error
// and nothing is deleted. An archive left with no entry is removed.
void DeleteZipEntries(const std::filesystem::path& archive, const std::vector<std::string>& names);

// Asked when an entry needs a password that is missing or wrong: gets the
// entry's name and the password tried, may replace it; false gives up.
using ZipPasswordPrompt = std::function<bool(const std::string& entry, std::string& password)>;

struct ZipExtractOptions {
  bool keep_dir_names = true;  // recreate the stored folders under the base folder
  std::string password;        // tried first for encrypted entries
  ZipPasswordPrompt prompt;    // may be empty: a missing or wrong password is then an error
  int max_prompts = 4;         // prompts allowed in one extraction
};

// Extracts the named entries (every entry when `names` is empty) into
// `base`, replacing files already there; each file is written under a
// temporary name and renamed when whole, with the entry's time. Names that
// are absolute or hold a ".." component are refused before anything is
// written. Throws ZipError.
void ExtractZipEntries(const std::filesystem::path& archive, const std::vector<std::string>& names,
                       const std::filesystem::path& base, const ZipExtractOptions& options);

}  // namespace corvane
