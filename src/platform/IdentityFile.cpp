#include "platform/IdentityFile.h"

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

}  // namespace

IdentityFile IdentityFile::parse(std::string_view text) {
    IdentityFile file;
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

std::optional<std::string> IdentityFile::find(std::string_view name) const {
    for (const std::string& line : lines_) {
        if (isValueLine(line) && nameOf(line) == name) return line.substr(name.size() + 1);
    }
    return std::nullopt;
}

void IdentityFile::set(std::string_view name, std::string_view value) {
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append(1, '=').append(value);
    for (std::string& existing : lines_) {
        if (isValueLine(existing) && nameOf(existing) == name) {
            existing = std::move(line);
            return;
        }
    }
    lines_.push_back(std::move(line));
}

std::string IdentityFile::serialise() const {
    std::string text;
    for (const std::string& line : lines_) text.append(line).append(1, '\n');
    return text;
}

bool isStorableName(std::string_view name) {
    return name.find_first_of(std::string_view("=\n\0", 3)) == std::string_view::npos;
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
