#include "platform/locale.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace corvane::platform {
namespace {

TEST(LocaleName, PosixLocalesGiveDesktopLanguageNames) {
  struct {
    const char* locale;
    const char* name;
  } cases[] = {
      {"fr_FR.UTF-8", "Français (France)"},
      {"fr_FR@euro", "Français (France)"},
      {"fr_BE.ISO-8859-1", "Français (Belgique)"},
      {"fr_CA", "Français (Canada)"},
      {"fr_CH.UTF-8", "Français (Suisse)"},
      {"en_US.UTF-8", "English (United States)"},
      {"en_GB.utf8", "English (United Kingdom)"},
      {"de_DE.UTF-8", "Deutsch (Deutschland)"},
      {"de_AT.UTF-8", "Deutsch (Österreich)"},
      {"de_CH", "Deutsch (Schweiz)"},
      {"es_ES.UTF-8", "Español (España)"},
      {"it_IT", "Italiano (Italia)"},
      {"nl_NL", "Nederlands (Nederland)"},
      {"pt_PT.UTF-8", "Português (Portugal)"},
      {"pt_BR.UTF-8", "Português (Brasil)"},
      {"FR_fr", "Français (France)"},    // letter case of either part
      {"fr-FR", "Français (France)"},    // BCP 47 separator
      {"fr_ZZ.UTF-8", "Français"},       // unknown territory: the language alone
      {"fr", "Français"},                // no territory
      {"C", "English (United States)"},
      {"C.UTF-8", "English (United States)"},
      {"POSIX", "English (United States)"},
      {"", "English (United States)"},
      {"xx_YY.UTF-8", "xx"},             // unknown language: its code
  };
  for (const auto& c : cases) EXPECT_EQ(LanguageNameOfLocale(c.locale), c.name) << c.locale;
}

TEST(LocaleName, FirstNonEmptyOfLcAllLcMessagesLang) {
  struct {
    std::map<std::string, std::string, std::less<>> env;
    const char* name;
  } cases[] = {
      {{{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "fr_FR.UTF-8"}, {"LANG", "it_IT"}}, "Deutsch (Deutschland)"},
      {{{"LC_ALL", ""}, {"LC_MESSAGES", "fr_FR.UTF-8"}, {"LANG", "it_IT"}}, "Français (France)"},
      {{{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "it_IT"}}, "Italiano (Italia)"},
      {{{"LANG", "pt_BR.UTF-8"}}, "Português (Brasil)"},
      {{{"LC_CTYPE", "fr_FR.UTF-8"}}, "English (United States)"},  // not a messages variable
      {{}, "English (United States)"},
  };
  for (const auto& c : cases) {
    EnvLookup env = [&](std::string_view name) -> std::optional<std::string> {
      auto it = c.env.find(name);
      if (it == c.env.end()) return std::nullopt;
      return it->second;
    };
    EXPECT_EQ(LocaleLanguageName(env), c.name) << c.name;
  }
}

TEST(LocaleName, FirstEightCharactersCountCharactersNotBytes) {
  struct {
    std::string name;
    std::string short_name;
  } cases[] = {
      {"Français (France)", "Français"},
      {"English (United States)", "English "},  // the blank stays
      {"Deutsch (Österreich)", "Deutsch "},
      {"Italiano (Italia)", "Italiano"},        // exactly eight letters
      {"Suomi", "Suomi"},                       // shorter: the whole name
      {"", ""},
      {"Čeština (Česko)", "Čeština "},
      {"日本語 (日本)", "日本語 (日本)"},          // seven characters of up to three bytes
      {"Ελληνικά (Ελλάδα)", "Ελληνικά"},
      {"ab\xF0\x9F\x98\x80" "cdefgh", "ab\xF0\x9F\x98\x80" "cdefg"},  // four-byte character
      // Bytes that start no character count one each and are kept as they are.
      {"\xC3" "abcdefghij", "\xC3" "abcdefg"},
      {"abcdefg\xE2\x82", "abcdefg\xE2"},      // a cut sequence is not a character
      {"\xFF\xFE\xFD\xFC\xFB\xFA\xF9\xF8\xF7", "\xFF\xFE\xFD\xFC\xFB\xFA\xF9\xF8"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortLanguageName(c.name), c.short_name) << c.name;
  EXPECT_EQ(FirstCharacters("Français", 5), "Franç");
  EXPECT_EQ(FirstCharacters("Français", 0), "");
}

}  // namespace
}  // namespace corvane::platform
