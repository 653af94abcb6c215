// The user's language as the programs name it: the locale's language name
// written the way the desktop shows it in that language, "Français (France)",
// "English (United States)", "Deutsch (Österreich)". Language files are
// chosen from the first eight characters of that name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace corvane::platform {

// The language name of a POSIX locale text (language[_territory][.codeset]
// [@modifier]). "C", "POSIX" and an empty text give "English (United
// States)"; a known language with an unknown or absent territory gives the
// language alone ("Français"); an unknown language gives its code as written.
std::string LanguageNameOfLocale(std::string_view posix_locale);

// The language name of the user's locale: the first non-empty of LC_ALL,
// LC_MESSAGES and LANG, as the C library chooses the messages locale.
std::string LocaleLanguageName(const EnvLookup& env);

// The first `count` characters of UTF-8 text (the whole text when shorter).
// A multi-byte sequence counts as one character and is never split; a byte
// that starts no valid sequence counts as one character of its own.
std::string FirstCharacters(std::string_view utf8, std::size_t count);

// The short name that language files are named after: the first eight
// characters of a locale language name ("Français (France)" gives
// "Français", "English (United States)" gives "English " with its blank).
std::string ShortLanguageName(std::string_view locale_language_name);

}  // namespace corvane::platform
