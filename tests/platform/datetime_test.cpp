#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace corvane::platform {
namespace {

using std::chrono::hours;
using std::chrono::minutes;
using std::chrono::seconds;

DateTime At(std::int64_t epoch_seconds) { return DateTime(seconds(epoch_seconds)); }
std::int64_t Epoch(DateTime t) { return std::chrono::duration_cast<seconds>(t.time_since_epoch()).count(); }

// Paris has summer time and is not UTC, so both offsets and both changes show.
class ParisTime : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists("/usr/share/zoneinfo/Europe/Paris")) << "tzdata is not installed";
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", "Europe/Paris", 1);
    ::tzset();
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(ParisTime, FormatsLocalTimeAndRoundsTowardsThePast) {
  DateTime t = At(1710506707);  // 2024-03-15 12:45:07 UTC
  EXPECT_EQ(FormatDate(t), "15/03/2024");
  EXPECT_EQ(FormatTime(t), "13:45:07");
  EXPECT_EQ(FormatDateTime(t + std::chrono::milliseconds(999)), "15/03/2024 13:45:07");
  // Just before the epoch the second shown is the one that began before it.
  EXPECT_EQ(FormatDateTime(At(0) - std::chrono::milliseconds(500)), "01/01/1970 00:59:59");
  EXPECT_EQ(FormatDateTime(At(1719835200)), "01/07/2024 14:00:00");  // summer: UTC+2
}

TEST_F(ParisTime, TextRoundTripsAcrossBothSummerTimeChanges) {
  struct Change {
    const char* name;
    std::int64_t utc;  // the instant of the change
  };
  const Change changes[] = {{"spring 2024", 1711846800}, {"autumn 2024", 1729990800}, {"autumn 2040", 2234998800}};
  for (const auto& c : changes) {
    // Every 7 minutes over three hours either side, seconds included.
    for (std::int64_t d = -3 * 3600; d <= 3 * 3600; d += 7 * 60 + 13) {
      DateTime t = At(c.utc + d);
      std::string text = FormatDateTime(t);
      auto back = ParseDateTime(text);
      ASSERT_TRUE(back) << c.name << " " << text;
      // The repeated autumn hour cannot be told apart in text: it reads as
      // its first occurrence, which shows the same text.
      bool repeated_hour = c.utc != 1711846800 && d >= -3600 && d < 3600;
      if (repeated_hour && d >= 0) {
        EXPECT_EQ(Epoch(*back), c.utc + d - 3600) << c.name << " " << text;
      } else {
        EXPECT_EQ(Epoch(*back), c.utc + d) << c.name << " " << text;
      }
      EXPECT_EQ(FormatDateTime(*back), text);
    }
  }
}

TEST_F(ParisTime, SkippedAndRepeatedLocalTimes) {
  // 02:30 does not exist on 31/03/2024: the clock jumped from 02:00 to 03:00.
  auto skipped = ParseDateTime("31/03/2024 02:30:00");
  ASSERT_TRUE(skipped);
  EXPECT_EQ(FormatDateTime(*skipped), "31/03/2024 03:30:00");
  // 02:30 happened twice on 27/10/2024; the first time was still summer time.
  auto repeated = ParseDateTime("27/10/2024 02:30:00");
  ASSERT_TRUE(repeated);
  EXPECT_EQ(Epoch(*repeated), 1729989000);  // 00:30 UTC
}

TEST_F(ParisTime, DatesPast2038AndTheLimitsOfTheTimeType) {
  auto t = ParseDateTime("19/01/2038 04:14:08");
  ASSERT_TRUE(t);
  EXPECT_EQ(Epoch(*t), 2147483648LL);  // one past the largest 32-bit time_t
  EXPECT_EQ(FormatDateTime(*t + seconds(1)), "19/01/2038 04:14:09");
  auto far = ParseDateTime("01/01/2200 12:00");
  ASSERT_TRUE(far);
  EXPECT_EQ(FormatDateTime(*far), "01/01/2200 12:00:00");
  auto early = ParseDateTime("02/01/1900 08:00");
  ASSERT_TRUE(early);
  EXPECT_EQ(FormatDateTime(*early), "02/01/1900 08:00:00");
  // Past what a nanosecond time point holds: refused, never wrapped round.
  for (const char* text : {"31/12/2263", "31/12/9999 23:59:59", "01/01/1600"}) {
    EXPECT_FALSE(ParseDateTime(text)) << text;
  }
}

TEST_F(ParisTime, AcceptedForms) {
  struct Case {
    const char* text;
    const char* shown;
  };
  const Case cases[] = {
      {"15/03/2024", "15/03/2024 00:00:00"},
      {"15/03/2024 13:45", "15/03/2024 13:45:00"},
      {"15/03/2024 13:45:07", "15/03/2024 13:45:07"},
      {"  15/03/2024 13:45:07\t", "15/03/2024 13:45:07"},
      {"15/03/2024   13:45", "15/03/2024 13:45:00"},
      {"5/3/2024 9:05", "05/03/2024 09:05:00"},
      {"29/02/2024", "29/02/2024 00:00:00"},
      {"29/02/2000", "29/02/2000 00:00:00"},
      {"31/12/1969 23:59:59", "31/12/1969 23:59:59"},
      {"01/01/1970 00:59:59", "01/01/1970 00:59:59"},  // mktime's -1, a real instant here
  };
  for (const auto& c : cases) {
    auto t = ParseDateTime(c.text);
    ASSERT_TRUE(t) << c.text;
    EXPECT_EQ(FormatDateTime(*t), c.shown) << c.text;
  }
}

TEST_F(ParisTime, RefusedForms) {
  const char* bad[] = {
      "", " ", "31/02/2024", "29/02/2023", "29/02/1900", "00/01/2024", "32/01/2024", "01/00/2024",
      "01/13/2024", "15/03/2024 25:00", "15/03/2024 24:00", "15/03/2024 12:60", "15/03/2024 12:00:60",
      "15/03/2024x", "15/03/2024 12:00 x", "15/03/2024 12:00:00.5", "15/03/2024 12", "15/03/2024 12:",
      "15/03/2024 12:5", "15/03/2024 12:05:", "15/03/2024T12:00", "15-03-2024", "15/03", "15/03/",
      "15/03/202", "15/03/20245", "015/03/2024", "15/003/2024", "1/3/4", "+1/03/2024", "-1/03/2024",
      "15/03/2024\n", "\xef\xbc\x91\xef\xbc\x95/03/2024", "15/03/0000", "15 /03/2024", "15/03/2024 :",
  };
  for (const char* text : bad) {
    EXPECT_FALSE(ParseDateTime(text)) << '"' << text << '"';
  }
  // A NUL inside the text is not the end of it.
  EXPECT_FALSE(ParseDateTime(std::string_view("15/03/2024\0junk", 15)));
}

TEST_F(ParisTime, TwoDigitYearsFallInTheCenturyWindow) {
  struct Case {
    int reference;
    const char* text;
    const char* year;
  };
  const Case cases[] = {
      {2026, "01/01/01", "2001"}, {2026, "01/01/00", "2000"}, {2026, "01/01/75", "2075"},
      {2026, "01/01/76", "1976"}, {2026, "01/01/99", "1999"}, {2026, "01/01/26", "2026"},
      {2080, "01/01/29", "2129"}, {2080, "01/01/30", "2030"}, {2000, "01/01/49", "2049"},
      {2000, "01/01/50", "1950"},
  };
  for (const auto& c : cases) {
    auto t = ParseDateTime(c.text, c.reference);
    ASSERT_TRUE(t) << c.text << " around " << c.reference;
    EXPECT_EQ(FormatDate(*t).substr(6), c.year) << c.text << " around " << c.reference;
  }
  // Without a reference year the window is centred on this year.
  std::string this_year = FormatDate(std::chrono::system_clock::now()).substr(6);
  auto t = ParseDateTime("01/06/" + this_year.substr(2));
  ASSERT_TRUE(t);
  EXPECT_EQ(FormatDate(*t).substr(6), this_year);
  // 29/02 of a two-digit year is checked against the year it lands in.
  EXPECT_TRUE(ParseDateTime("29/02/24", 2026));
  EXPECT_FALSE(ParseDateTime("29/02/00", 2080));  // 2100 is not a leap year
}

TEST(ParseTime, FormsAndRanges) {
  struct Case {
    const char* text;
    long long secs;  // -1: refused
  };
  const Case cases[] = {
      {"00:00", 0},       {"00:00:00", 0},  {"23:59:59", 86399}, {"9:05", 32700},   {" 13:45 ", 49500},
      {"13:45:07", 49507}, {"24:00", -1},   {"23:60", -1},       {"12:00:60", -1},  {"12", -1},
      {"12:", -1},        {"12:5", -1},     {"123:00", -1},      {"12:00:00x", -1}, {"12:00:5", -1},
      {"", -1},           {"-1:00", -1},    {"12.00", -1},       {"12:00:00:00", -1},
  };
  for (const auto& c : cases) {
    auto t = ParseTime(c.text);
    if (c.secs < 0) {
      EXPECT_FALSE(t) << c.text;
    } else {
      ASSERT_TRUE(t) << c.text;
      EXPECT_EQ(t->count(), c.secs) << c.text;
    }
  }
}

TEST(FormatTimeOfDay, WrapsIntoOneDay) {
  EXPECT_EQ(FormatTimeOfDay(seconds(0)), "00:00:00");
  EXPECT_EQ(FormatTimeOfDay(seconds(49507)), "13:45:07");
  EXPECT_EQ(FormatTimeOfDay(seconds(86399)), "23:59:59");
  EXPECT_EQ(FormatTimeOfDay(seconds(86400 + 61)), "00:01:01");
  EXPECT_EQ(FormatTimeOfDay(seconds(-1)), "23:59:59");
}

TEST_F(ParisTime, DayStartAndTimeOfDayOnShortAndLongDays) {
  struct Case {
    const char* noon;
    std::int64_t midnight_utc;
    int hours_since_midnight;  // real hours between midnight and noon
  };
  const Case cases[] = {
      {"15/03/2024 12:00:00", 1710457200, 12},  // an ordinary day
      {"31/03/2024 12:00:00", 1711839600, 11},  // 23-hour day
      {"27/10/2024 12:00:00", 1729980000, 13},  // 25-hour day
  };
  for (const auto& c : cases) {
    auto t = ParseDateTime(c.noon);
    ASSERT_TRUE(t) << c.noon;
    DateTime start = StartOfDay(*t + std::chrono::milliseconds(250));
    EXPECT_EQ(Epoch(start), c.midnight_utc) << c.noon;
    EXPECT_EQ(start.time_since_epoch() % seconds(1), DateTime::duration::zero());
    EXPECT_EQ(std::chrono::duration_cast<hours>(*t - start).count(), c.hours_since_midnight) << c.noon;
    EXPECT_EQ(TimeOfDay(*t), hours(12)) << c.noon;  // the wall clock says noon
    EXPECT_EQ(FormatTimeOfDay(TimeOfDay(*t + minutes(83) + seconds(5))), "13:23:05");
    EXPECT_EQ(StartOfDay(start), start);
  }
}

}  // namespace
}  // namespace corvane::platform
