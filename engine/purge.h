// The purge of invalid archives: which of a folder's archives have outlived
// their validity, and where they are listed and deleted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"

namespace corvane {

// The archives an archive folder leaves: "*.zip", or "*.zip.ccv" when it
// encrypts them.
std::string_view MotifArchives(bool crypte);

// Days of validity of a stored NbJoursValideZip. The key holds the position
// in the editor's list ("Permanente", "1 jour" ... "10 jours", "15 jours",
// "30 jours", "60 jours", "90 jours", "6 mois", "1 an"), so that the files
// already stored keep their meaning: 0 to 10 are that many days (0: never
// purged), 11 to 16 the days their labels say. A larger number, which the
// editor never writes, is taken as days; a negative one as permanent.
std::int32_t JoursValidite(std::int64_t position);

// The date and time an archive's name holds: `nom`, "_", the year, "_",
// month, "_", day, "_", hour and minute on two digits each, then
// `extension` (Documents_2024_03_15_1430.zip is 15 March 2024 14:30, local
// time). Nothing when the name is not exactly that or names no real time:
// the name is then not an archive of this folder.
std::optional<platform::DateTime> DateArchive(std::string_view name, std::string_view nom,
                                              std::string_view extension);

// One entry of a destination's listing: its name, and the time its age is
// counted from (the last-write time of a local file, the stamp in the name
// of an FTP one).
struct ArchiveEntry {
  std::string name;
  platform::DateTime time;
};

// The names among `entries`, in their order, that are archives of folder
// `nom` with the pattern's extension (DateArchive reads them; never a name
// that begins with ".", or one that would lead out of the folder) and whose
// age at `reference` exceeds `validity_days`. A validity of 0 or less keeps
// every archive.
std::vector<std::string> ChoisitArchivesInvalides(const std::vector<ArchiveEntry>& entries, std::string_view nom,
                                                  std::string_view motif, platform::DateTime reference,
                                                  std::int32_t validity_days);

// Where a purge finds and deletes archives: the destination folder itself,
// not its subfolders.
class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;
  // The entries that match `motif`. `stop` is asked after each one and ends
  // the listing when it answers true. False when nothing could be listed.
  virtual bool Liste(std::string_view motif, const std::function<bool()>& stop, std::vector<ArchiveEntry>& out) = 0;
  // The instant ages are counted at, given the current time.
  virtual platform::DateTime Reference(platform::DateTime now) const = 0;
  // How an archive is named in the journal and the run's list.
  virtual std::string Entree(const std::string& name) const = 0;
  // Deletes the archive of that journal entry; failures are not reported.
  virtual void Efface(const std::string& entree) = 0;
};

}  // namespace corvane
