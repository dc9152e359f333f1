// The identity files kept where there is no registry: one "name=value" line per value. Parsing,
// editing and writing out their text, and where they live; the file system itself is not touched.
// A name that the plain form cannot carry ('=', a line break, or a leading '%') is written as '%'
// followed by the name with '%', '=', '\n' and NUL as "%XX"; every other name is written as is,
// so files holding only such names read and write exactly as they always have.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ORBA {
namespace Platform {

inline constexpr const char* kIdentityFileName = "tracker-identity";
inline constexpr const char* kIdentityLockName = "tracker-identity.lock";
// The folder, beside the lock, that holds one file ("bucket") per value name; the single file
// above is what earlier versions kept every value in, and is now only read.
inline constexpr const char* kIdentityBucketFolderName = "identity";
// Where a bucket is written before it is renamed into place. No bucket name starts with '.'.
inline constexpr const char* kIdentityBucketTemporaryName = ".writing";

class IdentityStoreFile {
public:
    // Accepts any text. A line is a value when it holds '=' (the name is what precedes the first
    // one); other lines are kept as they are, so that a later write gives them back untouched.
    static IdentityStoreFile parse(std::string_view text);

    // The value of the first line named `name`; nothing when no line has that name.
    std::optional<std::string> find(std::string_view name) const;

    // Gives the first line named `name` the value `value`, or appends a line when there is none.
    // The name and value must pass isStorableName and isStorableValue.
    void set(std::string_view name, std::string_view value);

    // Removes every line named `name`; true when there was one.
    bool erase(std::string_view name);

    // The file's text: every line, each ended by '\n'.
    const std::string& serialise() const { return text_; }

private:
    // Where the first line named `name` starts in text_; npos when there is none.
    std::size_t lineOf(std::string_view name) const;

    // Kept whole rather than split into lines: one store holds the values of every game on the
    // machine, and a command looks up or changes one of them, so a search at memory speed and
    // one splice cost less than taking every line apart and joining them again.
    std::string text_;  // as read, with a '\n' after a last line that had none
};

// Whether a name can be written without changing how the file reads back: any name without NUL
// (a registry cannot hold one either, so no store takes it).
bool isStorableName(std::string_view name);

// The name as a line of the file spells it: itself, or its escaped form when it needs one.
std::string escapeIdentityName(std::string_view name);

// The name a line's text before its first '=' stands for: the text itself unless it is exactly
// what escapeIdentityName makes of some name.
std::string unescapeIdentityName(std::string_view spelled);

// Whether a value can be written without changing how the file reads back: no '\n' or NUL.
bool isStorableValue(std::string_view value);

// The file name of the bucket that holds `name`: bytes [A-Za-z0-9_-], and '.' past the first byte,
// are kept and every other byte becomes "%XX" (the empty name is "%"). A result longer than
// kMaxIdentityBucketNameBytes keeps a prefix followed by '~' and the 64-bit FNV-1a hash of the
// whole name in 16 hexadecimal digits. Distinct names may share a bucket only through the hash.
inline constexpr std::size_t kMaxIdentityBucketNameBytes = 200;
std::string identityBucketName(std::string_view name);

// The folder that holds the identity file: "orba" under $XDG_STATE_HOME when that is an absolute
// path, else under `home`/.local/state. Empty when neither gives an absolute path. Either input
// may be null.
std::string identityFolder(const char* xdgStateHome, const char* home);

}  // namespace Platform
}  // namespace ORBA
