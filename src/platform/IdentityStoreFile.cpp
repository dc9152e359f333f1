#include "platform/IdentityStoreFile.h"

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

std::string_view nameOf(std::string_view line) {
    const std::size_t equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view() : line.substr(0, equals);
}

bool isValueLine(std::string_view line) { return line.find('=') != std::string_view::npos; }

constexpr char kEscape = '%';

bool mustEscape(char c) { return c == kEscape || c == '=' || c == '\n' || c == '\0'; }

// Whether the line is a value line whose name is `name`. Plain names compare without copying.
bool lineNames(std::string_view line, std::string_view name) {
    if (!isValueLine(line)) return false;
    const std::string_view spelled = nameOf(line);
    if (spelled.empty() || spelled.front() != kEscape) return spelled == name;
    return unescapeIdentityName(spelled) == name;
}

}  // namespace

IdentityStoreFile IdentityStoreFile::parse(std::string_view text) {
    IdentityStoreFile file;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            file.lines_.emplace_back(text);  // a last line without its newline still counts
            break;
        }
        file.lines_.emplace_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return file;
}

std::optional<std::string> IdentityStoreFile::find(std::string_view name) const {
    for (const std::string& line : lines_) {
        if (lineNames(line, name)) return line.substr(nameOf(line).size() + 1);
    }
    return std::nullopt;
}

void IdentityStoreFile::set(std::string_view name, std::string_view value) {
    std::string line = escapeIdentityName(name);
    line.append(1, '=').append(value);
    for (std::string& existing : lines_) {
        if (lineNames(existing, name)) {
            existing = std::move(line);
            return;
        }
    }
    lines_.push_back(std::move(line));
}

std::string IdentityStoreFile::serialise() const {
    std::string text;
    for (const std::string& line : lines_) text.append(line).append(1, '\n');
    return text;
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
