#include "platform/locale.h"

#include <array>
#include <optional>

namespace corvane::platform {
namespace {

struct Language {
  std::string_view code;
  std::string_view name;
};

struct Territory {
  std::string_view language;
  std::string_view territory;
  std::string_view name;  // language and territory, both in that language
};

constexpr std::string_view kDefaultName = "English (United States)";

constexpr std::array kLanguages = {
    Language{"ar", "العربية"},        Language{"bg", "Български"},      Language{"br", "Brezhoneg"},
    Language{"ca", "Català"},         Language{"cs", "Čeština"},        Language{"cy", "Cymraeg"},
    Language{"da", "Dansk"},          Language{"de", "Deutsch"},        Language{"el", "Ελληνικά"},
    Language{"en", "English"},        Language{"eo", "Esperanto"},      Language{"es", "Español"},
    Language{"et", "Eesti"},          Language{"eu", "Euskara"},        Language{"fa", "فارسی"},
    Language{"fi", "Suomi"},          Language{"fr", "Français"},       Language{"ga", "Gaeilge"},
    Language{"gl", "Galego"},         Language{"he", "עברית"},          Language{"hi", "हिन्दी"},
    Language{"hr", "Hrvatski"},       Language{"hu", "Magyar"},         Language{"id", "Bahasa Indonesia"},
    Language{"is", "Íslenska"},       Language{"it", "Italiano"},       Language{"ja", "日本語"},
    Language{"ko", "한국어"},         Language{"lb", "Lëtzebuergesch"}, Language{"lt", "Lietuvių"},
    Language{"lv", "Latviešu"},       Language{"mk", "Македонски"},     Language{"ms", "Bahasa Melayu"},
    Language{"mt", "Malti"},          Language{"nb", "Norsk bokmål"},   Language{"nl", "Nederlands"},
    Language{"nn", "Norsk nynorsk"},  Language{"no", "Norsk bokmål"},   Language{"oc", "Occitan"},
    Language{"pl", "Polski"},         Language{"pt", "Português"},      Language{"ro", "Română"},
    Language{"ru", "Русский"},        Language{"sk", "Slovenčina"},     Language{"sl", "Slovenščina"},
    Language{"sq", "Shqip"},          Language{"sr", "Српски"},         Language{"sv", "Svenska"},
    Language{"th", "ไทย"},            Language{"tr", "Türkçe"},         Language{"uk", "Українська"},
    Language{"vi", "Tiếng Việt"},     Language{"wa", "Walon"},          Language{"zh", "中文"},
};

constexpr std::array kTerritories = {
    Territory{"ar", "AE", "العربية (الإمارات العربية المتحدة)"},
    Territory{"ar", "EG", "العربية (مصر)"},
    Territory{"ar", "MA", "العربية (المغرب)"},
    Territory{"ar", "SA", "العربية (المملكة العربية السعودية)"},
    Territory{"bg", "BG", "Български (България)"},
    Territory{"br", "FR", "Brezhoneg (Frañs)"},
    Territory{"ca", "AD", "Català (Andorra)"},
    Territory{"ca", "ES", "Català (Espanya)"},
    Territory{"ca", "FR", "Català (França)"},
    Territory{"cs", "CZ", "Čeština (Česko)"},
    Territory{"cy", "GB", "Cymraeg (Y Deyrnas Unedig)"},
    Territory{"da", "DK", "Dansk (Danmark)"},
    Territory{"de", "AT", "Deutsch (Österreich)"},
    Territory{"de", "BE", "Deutsch (Belgien)"},
    Territory{"de", "CH", "Deutsch (Schweiz)"},
    Territory{"de", "DE", "Deutsch (Deutschland)"},
    Territory{"de", "LI", "Deutsch (Liechtenstein)"},
    Territory{"de", "LU", "Deutsch (Luxemburg)"},
    Territory{"el", "CY", "Ελληνικά (Κύπρος)"},
    Territory{"el", "GR", "Ελληνικά (Ελλάδα)"},
    Territory{"en", "AU", "English (Australia)"},
    Territory{"en", "CA", "English (Canada)"},
    Territory{"en", "GB", "English (United Kingdom)"},
    Territory{"en", "IE", "English (Ireland)"},
    Territory{"en", "IN", "English (India)"},
    Territory{"en", "NZ", "English (New Zealand)"},
    Territory{"en", "SG", "English (Singapore)"},
    Territory{"en", "US", "English (United States)"},
    Territory{"en", "ZA", "English (South Africa)"},
    Territory{"es", "AR", "Español (Argentina)"},
    Territory{"es", "BO", "Español (Bolivia)"},
    Territory{"es", "CL", "Español (Chile)"},
    Territory{"es", "CO", "Español (Colombia)"},
    Territory{"es", "CR", "Español (Costa Rica)"},
    Territory{"es", "EC", "Español (Ecuador)"},
    Territory{"es", "ES", "Español (España)"},
    Territory{"es", "MX", "Español (México)"},
    Territory{"es", "PE", "Español (Perú)"},
    Territory{"es", "US", "Español (Estados Unidos)"},
    Territory{"es", "UY", "Español (Uruguay)"},
    Territory{"es", "VE", "Español (Venezuela)"},
    Territory{"et", "EE", "Eesti (Eesti)"},
    Territory{"eu", "ES", "Euskara (Espainia)"},
    Territory{"fa", "IR", "فارسی (ایران)"},
    Territory{"fi", "FI", "Suomi (Suomi)"},
    Territory{"fr", "BE", "Français (Belgique)"},
    Territory{"fr", "CA", "Français (Canada)"},
    Territory{"fr", "CH", "Français (Suisse)"},
    Territory{"fr", "FR", "Français (France)"},
    Territory{"fr", "LU", "Français (Luxembourg)"},
    Territory{"fr", "MC", "Français (Monaco)"},
    Territory{"ga", "IE", "Gaeilge (Éire)"},
    Territory{"gl", "ES", "Galego (España)"},
    Territory{"he", "IL", "עברית (ישראל)"},
    Territory{"hi", "IN", "हिन्दी (भारत)"},
    Territory{"hr", "HR", "Hrvatski (Hrvatska)"},
    Territory{"hu", "HU", "Magyar (Magyarország)"},
    Territory{"id", "ID", "Bahasa Indonesia (Indonesia)"},
    Territory{"is", "IS", "Íslenska (Ísland)"},
    Territory{"it", "CH", "Italiano (Svizzera)"},
    Territory{"it", "IT", "Italiano (Italia)"},
    Territory{"ja", "JP", "日本語 (日本)"},
    Territory{"ko", "KR", "한국어 (대한민국)"},
    Territory{"lb", "LU", "Lëtzebuergesch (Lëtzebuerg)"},
    Territory{"lt", "LT", "Lietuvių (Lietuva)"},
    Territory{"lv", "LV", "Latviešu (Latvija)"},
    Territory{"mk", "MK", "Македонски (Северна Македонија)"},
    Territory{"ms", "MY", "Bahasa Melayu (Malaysia)"},
    Territory{"mt", "MT", "Malti (Malta)"},
    Territory{"nb", "NO", "Norsk bokmål (Norge)"},
    Territory{"nl", "BE", "Nederlands (België)"},
    Territory{"nl", "NL", "Nederlands (Nederland)"},
    Territory{"nn", "NO", "Norsk nynorsk (Noreg)"},
    Territory{"no", "NO", "Norsk bokmål (Norge)"},
    Territory{"oc", "FR", "Occitan (França)"},
    Territory{"pl", "PL", "Polski (Polska)"},
    Territory{"pt", "BR", "Português (Brasil)"},
    Territory{"pt", "PT", "Português (Portugal)"},
    Territory{"ro", "MD", "Română (Republica Moldova)"},
    Territory{"ro", "RO", "Română (România)"},
    Territory{"ru", "RU", "Русский (Россия)"},
    Territory{"ru", "UA", "Русский (Украина)"},
    Territory{"sk", "SK", "Slovenčina (Slovensko)"},
    Territory{"sl", "SI", "Slovenščina (Slovenija)"},
    Territory{"sq", "AL", "Shqip (Shqipëri)"},
    Territory{"sr", "RS", "Српски (Србија)"},
    Territory{"sv", "FI", "Svenska (Finland)"},
    Territory{"sv", "SE", "Svenska (Sverige)"},
    Territory{"th", "TH", "ไทย (ไทย)"},
    Territory{"tr", "TR", "Türkçe (Türkiye)"},
    Territory{"uk", "UA", "Українська (Україна)"},
    Territory{"vi", "VN", "Tiếng Việt (Việt Nam)"},
    Territory{"wa", "BE", "Walon (Beldjike)"},
    Territory{"zh", "CN", "中文 (中国)"},
    Territory{"zh", "HK", "中文 (香港)"},
    Territory{"zh", "SG", "中文 (新加坡)"},
    Territory{"zh", "TW", "中文 (台灣)"},
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// Length of the valid UTF-8 sequence starting at s[i], or 0.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = at(i);
  if (c < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < len; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return len;
}

}  // namespace

std::string LanguageNameOfLocale(std::string_view posix_locale) {
  std::string_view name = posix_locale.substr(0, posix_locale.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return std::string(kDefaultName);
  std::size_t sep = name.find_first_of("_-");
  std::string language = Lower(name.substr(0, sep));
  std::string territory = sep == std::string_view::npos ? std::string() : Upper(name.substr(sep + 1));
  for (const Territory& t : kTerritories)
    if (t.language == language && t.territory == territory) return std::string(t.name);
  for (const Language& l : kLanguages)
    if (l.code == language) return std::string(l.name);
  return std::string(name.substr(0, sep));
}

std::string LocaleLanguageName(const EnvLookup& env) {
  for (std::string_view variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::optional<std::string> value = env(variable);
    if (value && !value->empty()) return LanguageNameOfLocale(*value);
  }
  return std::string(kDefaultName);
}

std::string FirstCharacters(std::string_view utf8, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < utf8.size(); ++n) {
    std::size_t len = SequenceLength(utf8, i);
    i += len == 0 ? 1 : len;
  }
  return std::string(utf8.substr(0, i));
}

std::string ShortLanguageName(std::string_view locale_language_name) {
  return FirstCharacters(locale_language_name, 8);
}

}  // namespace corvane::platform
