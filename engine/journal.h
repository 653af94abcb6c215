// Journal files (one per folder and per day, "logs/2024_03_15 Nom.jcv") and
// calendar files (one per day, "logs/2024_03_15 .cal"). Lines end with CR LF.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/status.h"
#include "platform/datetime.h"

namespace corvane {

// Year without leading zeros, "_", month and day on two digits.
std::string DateJour(platform::DateTime day);
std::filesystem::path JournalPath(const std::filesystem::path& logs_dir, std::string_view stamp,
                                  std::string_view nom);
std::filesystem::path CalendarPath(const std::filesystem::path& logs_dir, std::string_view stamp);

// The journal of one run. Lines are kept in memory and written when the run
// closes its journal: after the content the file has at that moment, under
// the logs folder's lock, so overlapping runs never lose each other's lines
// and runs that do not overlap leave exactly what one reader-writer would.
class RunJournal {
 public:
  RunJournal(std::filesystem::path logs_dir, std::string nom, JournalSink* sink);

  // Starts the day's journal: the opening line is `text` + " " + the time.
  void Open(platform::DateTime now, std::string_view text);
  bool is_open() const { return open_; }
  // Every line reaches the sink; it reaches the file only when the journal
  // was opened.
  void Add(std::string_view line);
  // Adds the closing lines and writes the file (the day of Open). Throws
  // std::runtime_error when the file cannot be written.
  void Close(platform::DateTime now, bool suspended, std::string_view suspension_text,
             std::string_view fin_text);

 private:
  std::filesystem::path logs_dir_;
  std::string nom_;
  JournalSink* sink_;
  bool open_ = false;
  std::string stamp_;
  std::vector<std::string> lines_;
};

// Appends lines to the day's calendar file. Throws std::runtime_error when
// the file cannot be written.
void EcritCalendrier(const std::filesystem::path& logs_dir, std::string_view stamp,
                     const std::vector<std::string>& lines);

// Splits a text file into lines, accepting CR LF and LF ends.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace corvane
