// Language tags and countries from POSIX locale names ("en_US.UTF-8", "sr_RS@latin", "C").
#pragma once

#include <string>
#include <string_view>

namespace ORBA {
namespace Platform {

// The locale that decides the user's language: the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty (null pointers stand for unset variables); "C" when none is.
std::string_view effectiveLocaleName(const char* lcAll, const char* lcMessages, const char* lang);

// The BCP 47 tag of `locale`: language in lower case, then the script of a "@latin",
// "@cyrillic" or "@devanagari" modifier, then the territory in upper case, then the variant of
// "@valencia" ("en_US.UTF-8" -> "en-US", "sr_RS@latin" -> "sr-Latn-RS"). The code set and other
// modifiers are dropped. The C and POSIX locales, and names that are not of the form
// language[_territory][.codeset][@modifier], stand for untranslated text and give "en-US"; a
// malformed name also writes a log line.
std::string languageTagFromLocale(std::string_view locale);

// The two-letter territory of `locale` in upper case ("en_US.UTF-8" -> "US"); empty when the
// locale names none, names a numeric region ("es_419"), is C or POSIX, or is malformed.
std::string countryFromLocale(std::string_view locale);

}  // namespace Platform
}  // namespace ORBA
