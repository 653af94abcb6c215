#include <gtest/gtest.h>

#include "engine/journal.h"
#include "engine/status.h"

namespace corvane {
namespace {

std::size_t Chars(const std::string& s) {
  std::size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

TEST(TipText, PrefixTextAndThreeBlanksCutAtSixtyThreeCharacters) {
  EXPECT_EQ(TipText("En veille"), "Corvane 3 : En veille   ");
  EXPECT_EQ(TipText(""), "Corvane 3 :    ");
  // 12 + 48 + 3 = 63: nothing cut; one more character and a blank goes.
  std::string t48(48, 'x');
  EXPECT_EQ(TipText(t48), "Corvane 3 : " + t48 + "   ");
  EXPECT_EQ(TipText(t48 + "y"), "Corvane 3 : " + t48 + "y  ");
  // Cut by characters, never inside one.
  std::string accents;
  for (int i = 0; i < 60; ++i) accents += "é";
  std::string tip = TipText(accents);
  EXPECT_EQ(Chars(tip), 63u);
  EXPECT_EQ(tip.substr(tip.size() - 2), "é");
}

TEST(DayStamp, YearWithoutPaddingMonthAndDayOnTwoDigits) {
  EXPECT_EQ(DateJour(*platform::ParseDateTime("15/03/2024 23:59:59")), "2024_03_15");
  EXPECT_EQ(DateJour(*platform::ParseDateTime("01/12/2026")), "2026_12_01");
  EXPECT_EQ(JournalPath("/l", "2024_03_15", "Documents"), std::filesystem::path("/l/2024_03_15 Documents.jcv"));
  EXPECT_EQ(CalendarPath("/l", "2024_03_15"), std::filesystem::path("/l/2024_03_15 .cal"));
}

}  // namespace
}  // namespace corvane
