#include "platform/datetime.h"

#include <cstdio>
#include <ctime>

namespace corvane::platform {
namespace {

using std::chrono::seconds;

// Whole seconds, rounded towards the past so that a time just before the
// epoch still shows its own second.
std::time_t ToTimeT(DateTime t) {
  return static_cast<std::time_t>(std::chrono::floor<seconds>(t.time_since_epoch()).count());
}

bool LocalFields(DateTime t, std::tm& tm) {
  std::time_t s = ToTimeT(t);
  return ::localtime_r(&s, &tm) != nullptr;
}

// The span a DateTime (nanosecond ticks) can hold, in whole seconds.
constexpr std::int64_t kMinSeconds =
    std::chrono::duration_cast<seconds>(DateTime::duration::min()).count() + 1;
constexpr std::int64_t kMaxSeconds =
    std::chrono::duration_cast<seconds>(DateTime::duration::max()).count() - 1;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A cursor over the text being parsed.
class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}
  bool AtEnd() const { return pos_ == s_.size(); }
  // Reads between min and max decimal digits (and no more: a longer run of
  // digits is a failure, not two fields).
  bool Number(std::size_t min, std::size_t max, int& out, std::size_t* count = nullptr) {
    std::size_t start = pos_;
    int v = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
      if (pos_ - start == max) return false;
      v = v * 10 + (s_[pos_] - '0');
      ++pos_;
    }
    std::size_t n = pos_ - start;
    if (n < min) return false;
    if (count) *count = n;
    out = v;
    return true;
  }
  bool Char(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Blanks() {
    std::size_t start = pos_;
    while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
    return pos_ > start;
  }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
};

struct TimeFields {
  int hour = 0, minute = 0, second = 0;
};

bool ReadTime(Reader& r, TimeFields& t) {
  if (!r.Number(1, 2, t.hour) || !r.Char(':') || !r.Number(2, 2, t.minute)) return false;
  if (r.Char(':') && !r.Number(2, 2, t.second)) return false;
  return t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

// mktime answers -1 both for failure and for one second before the epoch
// in UTC; a failure leaves tm_wday alone.
std::optional<std::time_t> MakeLocal(std::tm& tm) {
  tm.tm_wday = -1;
  std::time_t s = ::mktime(&tm);
  if (s == static_cast<std::time_t>(-1) && tm.tm_wday == -1) return std::nullopt;
  return s;
}

bool SameFields(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
         a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

int CurrentLocalYear() {
  std::tm tm{};
  if (!LocalFields(std::chrono::system_clock::now(), tm)) return 2000;
  return tm.tm_year + 1900;
}

}  // namespace

std::string FormatDate(DateTime t) {
  std::tm tm{};
  if (!LocalFields(t, tm)) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
  return buf;
}

std::string FormatTime(DateTime t) {
  std::tm tm{};
  if (!LocalFields(t, tm)) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string FormatDateTime(DateTime t) { return FormatDate(t) + " " + FormatTime(t); }

std::string FormatTimeOfDay(seconds since_midnight) {
  constexpr std::int64_t kDay = 86400;
  std::int64_t s = static_cast<std::int64_t>(since_midnight.count()) % kDay;
  if (s < 0) s += kDay;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60));
  return buf;
}

std::optional<DateTime> ParseDateTime(std::string_view text) { return ParseDateTime(text, CurrentLocalYear()); }

std::optional<DateTime> ParseDateTime(std::string_view text, int reference_year) {
  Reader r(Trim(text));
  int day = 0, month = 0, year = 0;
  std::size_t year_digits = 0;
  if (!r.Number(1, 2, day) || !r.Char('/') || !r.Number(1, 2, month) || !r.Char('/') ||
      !r.Number(2, 4, year, &year_digits))
    return std::nullopt;
  if (year_digits == 3) return std::nullopt;
  if (year_digits == 2) {
    // The window [reference - 50, reference + 49], as the usual two-digit
    // year rule of date pickers does it.
    int threshold = reference_year - 50;
    year += threshold / 100 * 100;
    if (year < threshold) year += 100;
  }
  TimeFields time;
  if (!r.AtEnd()) {
    if (!r.Blanks() || !ReadTime(r, time)) return std::nullopt;
  }
  if (!r.AtEnd()) return std::nullopt;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;

  std::tm want{};
  want.tm_year = year - 1900;
  want.tm_mon = month - 1;
  want.tm_mday = day;
  want.tm_hour = time.hour;
  want.tm_min = time.minute;
  want.tm_sec = time.second;
  std::tm tm = want;
  tm.tm_isdst = -1;
  auto s = MakeLocal(tm);
  if (!s) return std::nullopt;
  // In the repeated hour, take the earlier instant: a "modified since" test
  // against it errs towards copying again rather than missing a file.
  if (tm.tm_isdst >= 0) {
    std::tm other = want;
    other.tm_isdst = tm.tm_isdst == 0 ? 1 : 0;
    auto s2 = MakeLocal(other);
    if (s2 && *s2 < *s && SameFields(other, want)) s = s2;
  }
  auto secs = static_cast<std::int64_t>(*s);
  if (secs < kMinSeconds || secs > kMaxSeconds) return std::nullopt;
  return DateTime(std::chrono::duration_cast<DateTime::duration>(seconds(secs)));
}

std::optional<seconds> ParseTime(std::string_view text) {
  Reader r(Trim(text));
  TimeFields t;
  if (!ReadTime(r, t) || !r.AtEnd()) return std::nullopt;
  return seconds(t.hour * 3600 + t.minute * 60 + t.second);
}

DateTime StartOfDay(DateTime t) {
  std::tm tm{};
  if (!LocalFields(t, tm)) return t;
  tm.tm_hour = 0;
  tm.tm_min = 0;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  auto s = MakeLocal(tm);
  if (!s) return t;
  auto secs = static_cast<std::int64_t>(*s);
  if (secs < kMinSeconds || secs > kMaxSeconds) return t;
  return DateTime(std::chrono::duration_cast<DateTime::duration>(seconds(secs)));
}

seconds TimeOfDay(DateTime t) {
  std::tm tm{};
  if (!LocalFields(t, tm)) return seconds(0);
  return seconds(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
}

}  // namespace corvane::platform
