#include "orba/StringUtil.h"
#include "core/CLocale.h"

#include <cstdio>

namespace ORBA {
namespace Core {
namespace {

// Folding and white space as the C library gives them in the "C" locale: only A-Z and a-z change,
// bytes of 0x80 and above never do. Spelled out rather than asked of <cctype>, whose answers
// follow whatever locale the host has set (a Windows-1252 locale folds "\xC9" to "\xE9").
char foldLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char foldUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

StringUtil& StringUtil::operator=(const StringUtil&) = default;
StringUtil& StringUtil::operator=(StringUtil&&) noexcept = default;

void StringUtil::changeLetterCase(std::string& text, LetterCase letterCase) {
    for (char& c : text) c = letterCase == Upper ? foldUpper(c) : foldLower(c);
}

bool StringUtil::isEmptyString(const std::string& text) { return text.empty(); }

bool StringUtil::isEqual(const std::string& a, const std::string& b, StringSensitive sensitive) {
    return isEqual(std::string_view(a), std::string_view(b), sensitive);
}

bool StringUtil::isEqual(std::string_view a, std::string_view b, StringSensitive sensitive) {
    if (a.size() != b.size()) return false;
    if (sensitive == CaseSensitive) return a == b;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldLower(a[i]) != foldLower(b[i])) return false;
    }
    return true;
}

bool StringUtil::isEqualCaseInSensitive(const std::string& a, const std::string& b) {
    return isEqual(std::string_view(a), std::string_view(b), CaseInSensitive);
}

bool StringUtil::isEqualCaseInSensitive(std::string_view a, std::string_view b) {
    return isEqual(a, b, CaseInSensitive);
}

std::string StringUtil::longlongToString(long long value) {
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "%lld", value);
    return std::string(buffer, static_cast<std::size_t>(length));
}

void StringUtil::removeCharacter(std::string& text, const char& character) {
    const char removed = character;  // the reference may point into `text`
    std::string::size_type kept = 0;
    for (char c : text) {
        if (c != removed) text[kept++] = c;
    }
    text.resize(kept);
}

std::string StringUtil::replaceAll(const std::string& subject, const std::string& search,
                                   const std::string& replacement) {
    std::string result = subject;
    // An empty search text matches everywhere and would never let the scan end.
    if (search.empty()) return result;
    std::string::size_type position = 0;
    while ((position = result.find(search, position)) != std::string::npos) {
        result.replace(position, search.size(), replacement);
        position += replacement.size();
    }
    return result;
}

std::uint64_t StringUtil::replaceRangeBetweenStrings(std::string& text, const std::string& opening,
                                                     const std::string& closing,
                                                     const std::string& replacement,
                                                     std::uint64_t start) {
    const std::string::size_type open = text.find(opening, start);
    if (open == std::string::npos) return std::string::npos;
    const std::string::size_type begin = open + opening.size();
    const std::string::size_type close = text.find(closing, begin);
    if (close == std::string::npos) return std::string::npos;
    text.replace(begin, close - begin, replacement);
    return close;
}

std::vector<std::string> StringUtil::splitString(const std::string& text, char delimiter) {
    if (text.find(delimiter) == std::string::npos) return {text};
    std::vector<std::string> fields;
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        std::string::size_type end = text.find(delimiter, begin);
        if (end == std::string::npos) end = text.size();
        fields.emplace_back(text, begin, end - begin);
        begin = end + 1;
    }
    return fields;
}

void StringUtil::trimString(std::string& text) {
    std::string::size_type begin = 0;
    while (begin < text.size() && isCSpace(text[begin])) ++begin;
    std::string::size_type end = text.size();
    while (end > begin && isCSpace(text[end - 1])) --end;
    text.erase(end);
    text.erase(0, begin);
}

}  // namespace Core
}  // namespace ORBA
