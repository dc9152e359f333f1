#include "platform/IdentityStoreFile.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "core/Hex.h"

namespace ORBA {
namespace Platform {
namespace {

bool isAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// "/a/b/" and "/a/b" name one folder; keep joined paths free of doubled separators.
std::string withoutTrailingSlashes(std::string path) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

constexpr char kEscape = '%';

bool mustEscape(char c) { return c == kEscape || c == '=' || c == '\n' || c == '\0'; }

// Where the first line of `text` that begins with `prefix` starts; npos when none does. `prefix`
// ends with '=' and holds no '\n', so it is exactly the name part of the line it finds.
std::size_t firstLineStartingWith(const std::string& text, const std::string& prefix) {
    if (text.compare(0, prefix.size(), prefix) == 0) return 0;
    const std::string pattern = "\n" + prefix;
    const auto found =
        std::search(text.begin(), text.end(),
                    std::boyer_moore_horspool_searcher(pattern.begin(), pattern.end()));
    return found == text.end() ? std::string::npos
                               : static_cast<std::size_t>(found - text.begin()) + 1;
}

}  // namespace

IdentityStoreFile IdentityStoreFile::parse(std::string_view text) {
    IdentityStoreFile file;
    file.text_.assign(text);
    // A last line without its newline still counts.
    if (!file.text_.empty() && file.text_.back() != '\n') file.text_.push_back('\n');
    return file;
}

std::size_t IdentityStoreFile::lineOf(std::string_view name) const {
    // A line is named `name` when what precedes its first '=' is the name's spelling, or, for a
    // name that merely looks escaped, the name itself as it was written before names were.
    const std::string spelled = escapeIdentityName(name);
    std::size_t first = firstLineStartingWith(text_, spelled + "=");
    const bool writtenAsIs =
        spelled != name &&
        name.find_first_of(std::string_view("=\n", 2)) == std::string_view::npos &&
        unescapeIdentityName(name) == name;
    if (writtenAsIs) first = std::min(first, firstLineStartingWith(text_, std::string(name) + "="));
    return first;
}

std::optional<std::string> IdentityStoreFile::find(std::string_view name) const {
    const std::size_t line = lineOf(name);
    if (line == std::string::npos) return std::nullopt;
    const std::size_t value = text_.find('=', line) + 1;
    return text_.substr(value, text_.find('\n', value) - value);
}

void IdentityStoreFile::set(std::string_view name, std::string_view value) {
    std::string line = escapeIdentityName(name);
    line.append(1, '=').append(value);
    const std::size_t start = lineOf(name);
    if (start == std::string::npos) {
        text_.append(line).append(1, '\n');
        return;
    }
    // The whole line, so that a name written before names were escaped takes its spelling now.
    text_.replace(start, text_.find('\n', start) - start, line);
}

bool IdentityStoreFile::erase(std::string_view name) {
    // Every line of that name, so that a hand-written second one does not come to light.
    bool erased = false;
    for (std::size_t start = lineOf(name); start != std::string::npos; start = lineOf(name)) {
        text_.erase(start, text_.find('\n', start) + 1 - start);
        erased = true;
    }
    return erased;
}

bool isStorableName(std::string_view name) { return name.find('\0') == std::string_view::npos; }

std::string escapeIdentityName(std::string_view name) {
    const bool plain = (name.empty() || name.front() != kEscape) &&
                       name.find_first_of(std::string_view("=\n\0", 3)) == std::string_view::npos;
    if (plain) return std::string(name);
    std::string spelled(1, kEscape);
    for (const char c : name) {
        if (mustEscape(c)) {
            const unsigned char byte = static_cast<unsigned char>(c);
            spelled.append(1, kEscape).append(Core::bytesToHex(&byte, 1, true));
        } else {
            spelled.push_back(c);
        }
    }
    return spelled;
}

std::string unescapeIdentityName(std::string_view spelled) {
    if (spelled.empty() || spelled.front() != kEscape) return std::string(spelled);
    std::string name;
    for (std::size_t i = 1; i < spelled.size(); ++i) {
        if (spelled[i] != kEscape) {
            name.push_back(spelled[i]);
            continue;
        }
        const int high = i + 2 < spelled.size() ? Core::hexDigitValue(spelled[i + 1]) : -1;
        const int low = high >= 0 ? Core::hexDigitValue(spelled[i + 2]) : -1;
        if (low < 0) return std::string(spelled);
        name.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    // Only the exact spelling escapeIdentityName gives counts; any other text starting with '%'
    // is a name of its own, as every file written before names were escaped has it.
    if (escapeIdentityName(name) != spelled) return std::string(spelled);
    return name;
}

std::string identityBucketName(std::string_view name) {
    if (name.empty()) return std::string(1, kEscape);
    std::string bucket;
    bucket.reserve(name.size());
    for (const char c : name) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                          (c == '.' && !bucket.empty());
        if (kept) {
            bucket.push_back(c);
        } else {
            const unsigned char byte = static_cast<unsigned char>(c);
            bucket.append(1, kEscape).append(Core::bytesToHex(&byte, 1, true));
        }
    }
    if (bucket.size() <= kMaxIdentityBucketNameBytes) return bucket;
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    unsigned char digest[8];
    for (int i = 0; i < 8; ++i) digest[i] = static_cast<unsigned char>(hash >> (56 - 8 * i));
    const std::string suffix = "~" + Core::bytesToHex(digest, sizeof digest, false);
    std::size_t keep = kMaxIdentityBucketNameBytes - suffix.size();
    // Not through the middle of an escape, so the prefix still reads as the name's start.
    const std::size_t escape = bucket.rfind(kEscape, keep - 1);
    if (escape != std::string::npos && escape + 3 > keep) keep = escape;
    bucket.resize(keep);
    return bucket + suffix;
}

bool isStorableValue(std::string_view value) {
    return value.find_first_of(std::string_view("\n\0", 2)) == std::string_view::npos;
}

std::string identityFolder(const char* xdgStateHome, const char* home) {
    if (isAbsolute(xdgStateHome)) return withoutTrailingSlashes(xdgStateHome) + "/orba";
    if (isAbsolute(home)) return withoutTrailingSlashes(home) + "/.local/state/orba";
    return std::string();
}

}  // namespace Platform
}  // namespace ORBA
