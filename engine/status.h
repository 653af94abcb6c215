// What a run shows while it works: the tray icon and its tip, and the
// journal lines a live view may follow.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The agent implements this on its tray icon; the console gives none.
// Calls come from worker threads.
class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;
  // `icon` is one of "Corv_1" (idle), "Corv_2" (copying), "Corv_3"
  // (scanning), "Corv_4" (mirror scanning); `tip` is already built.
  virtual void AfficheEtat(std::string_view icon, std::string_view tip) = 0;
};

// Receives every journal line a run adds, from the run's worker thread.
class JournalSink {
 public:
  virtual ~JournalSink() = default;
  virtual void Line(std::string_view line) = 0;
};

// "Corvane 3 : " + text + three blanks, cut to 63 characters (never inside
// a UTF-8 sequence).
std::string TipText(std::string_view text);

}  // namespace corvane
