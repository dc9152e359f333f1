#include "platform/LocaleTag.h"

#include <optional>

#include "orba/Logger.h"
#include "core/CLocale.h"

namespace ORBA {
namespace Platform {
namespace {

constexpr std::string_view kUntranslatedLanguage = "en-US";

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool allOf(std::string_view text, bool (*test)(char)) {
    for (const char c : text) {
        if (!test(c)) return false;
    }
    return true;
}

std::string toLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string toUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

struct LocaleParts {
    std::string_view language;
    std::string_view territory;
    std::string_view modifier;
};

// Splits language[_territory][.codeset][@modifier]; nullopt for C, POSIX and malformed names.
std::optional<LocaleParts> splitLocale(const std::string_view name) {
    std::string_view locale = name;
    LocaleParts parts;
    const auto at = locale.find('@');
    if (at != std::string_view::npos) {
        parts.modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    const auto dot = locale.find('.');
    if (dot != std::string_view::npos) locale = locale.substr(0, dot);
    const auto underscore = locale.find('_');
    parts.language = locale.substr(0, underscore);
    if (underscore != std::string_view::npos) parts.territory = locale.substr(underscore + 1);

    if (parts.language == "C" || parts.language == "POSIX") return std::nullopt;
    const bool languageOk = parts.language.size() >= 2 && parts.language.size() <= 3 &&
                            allOf(parts.language, isAsciiLetter);
    const bool territoryOk =
        (underscore == std::string_view::npos) ||
        (parts.territory.size() == 2 && allOf(parts.territory, isAsciiLetter)) ||
        (parts.territory.size() == 3 && allOf(parts.territory, Core::isCDigit));
    if (!languageOk || !territoryOk) {
        Core::Logger::Log("Locale \"" + std::string(name) +
                          "\" is not a language_territory name; using the untranslated language");
        return std::nullopt;
    }
    return parts;
}

}  // namespace

std::string_view effectiveLocaleName(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && *value != '\0') return value;
    }
    return "C";
}

std::string languageTagFromLocale(std::string_view locale) {
    const std::optional<LocaleParts> parts = splitLocale(locale);
    if (!parts) return std::string(kUntranslatedLanguage);
    std::string tag = toLower(parts->language);
    if (parts->modifier == "latin") tag += "-Latn";
    if (parts->modifier == "cyrillic") tag += "-Cyrl";
    if (parts->modifier == "devanagari") tag += "-Deva";
    if (!parts->territory.empty()) tag += "-" + toUpper(parts->territory);
    if (parts->modifier == "valencia") tag += "-valencia";
    return tag;
}

std::string countryFromLocale(std::string_view locale) {
    const std::optional<LocaleParts> parts = splitLocale(locale);
    if (!parts || parts->territory.size() != 2) return {};
    return toUpper(parts->territory);
}

}  // namespace Platform
}  // namespace ORBA
