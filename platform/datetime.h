// Dates and times as text, in the one pair of formats every file of ours
// uses: short date "dd/MM/yyyy", long time "HH:mm:ss", local time.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::platform {

using DateTime = std::chrono::system_clock::time_point;

std::string FormatDate(DateTime t);      // dd/MM/yyyy
std::string FormatTime(DateTime t);      // HH:mm:ss
std::string FormatDateTime(DateTime t);  // date, a blank, time
// HH:mm:ss; a count outside one day is taken modulo one day.
std::string FormatTimeOfDay(std::chrono::seconds since_midnight);

// Accepts "dd/MM/yyyy", optionally followed by a blank and "HH:mm:ss" or
// "HH:mm"; a two-digit year falls in the century window around today.
// Day, month and hour may have one digit; blanks around the text are
// ignored. Impossible fields, trailing text and dates a DateTime cannot hold
// (it spans about 1678 to 2262) are refused. A local time that occurs twice
// (the hour repeated when summer time ends) reads as its first occurrence;
// one skipped by the change reads as the clock shows it after the change.
std::optional<DateTime> ParseDateTime(std::string_view text);
// The same with the century window centred on `reference_year`: a two-digit
// year lands in [reference_year - 50, reference_year + 49].
std::optional<DateTime> ParseDateTime(std::string_view text, int reference_year);
// "HH:mm:ss" or "HH:mm": seconds since midnight.
std::optional<std::chrono::seconds> ParseTime(std::string_view text);

// Local midnight of the day of t, and the time of day of t as the wall clock
// shows it (so FormatTimeOfDay(TimeOfDay(t)) == FormatTime(t), also on days
// whose length is not 24 hours).
DateTime StartOfDay(DateTime t);
std::chrono::seconds TimeOfDay(DateTime t);

// An injectable clock: runs and schedulers ask it, tests set it.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime Now() const = 0;
};
class SystemClock final : public Clock {
 public:
  DateTime Now() const override { return std::chrono::system_clock::now(); }
};
class FixedClock final : public Clock {
 public:
  explicit FixedClock(DateTime t) : t_(t) {}
  DateTime Now() const override { return t_; }
  void Set(DateTime t) { t_ = t; }
  void Advance(std::chrono::system_clock::duration d) { t_ += d; }

 private:
  DateTime t_;
};

}  // namespace corvane::platform
