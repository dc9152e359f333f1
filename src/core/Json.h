// Reading and writing JSON text. The JSON library's reader and writer are called here and nowhere
// else; other code holds the library's values (nlohmann::json) but turns them into text, and text
// into them, through these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace ORBA {
namespace Core {
namespace Json {

// What a text holds, handed over in text order while it is read. A call returning false stops
// the reading; an exception thrown by one leaves read() as it is.
class Events {
public:
    virtual ~Events() = default;
    virtual bool null() = 0;
    virtual bool boolean(bool flag) = 0;
    virtual bool integer(std::int64_t number) = 0;
    // An integer above the largest std::int64_t.
    virtual bool unsignedInteger(std::uint64_t number) = 0;
    virtual bool floating(double number) = 0;
    // The reader reuses its buffer after the call; `text` may be moved from.
    virtual bool string(std::string& text) = 0;
    virtual bool startObject() = 0;
    virtual bool key(std::string& name) = 0;
    virtual bool endObject() = 0;
    virtual bool startArray() = 0;
    virtual bool endArray() = 0;
};

enum class ParseErrorKind {
    Syntax,       // a byte that cannot come where it is
    EndOfText,    // the text ends inside a value
    Utf8,         // a byte sequence that is not UTF-8
    NumberRange,  // a number beyond the range of a double
    Other,
};

// Where and why a text could not be read. Holds nothing of the text itself.
struct ParseError {
    int id = 0;            // the library's error id: 101 syntax, 406 number overflow
    std::size_t byte = 0;  // where reading stopped, counted from 1; the text's size + 1 at its end
    ParseErrorKind kind = ParseErrorKind::Other;

    // A short description in our own words, e.g. "syntax error at byte 17" or "unexpected end
    // after byte 40". Safe to log: it quotes none of the text.
    std::string describe() const;
};

// Reads `text` strictly (one value, nothing but white space after it, no comments; a leading
// UTF-8 byte-order mark is skipped) and hands its contents to `events`. Returns the error that
// stopped it, or nothing when the text was read to its end or `events` stopped it.
std::optional<ParseError> read(const std::string& text, Events& events);

// `text` as one of the library's values; a discarded value (is_discarded()) when it is not valid
// JSON. Read strictly, as read() reads.
nlohmann::json parseOrDiscarded(std::string_view text);

// Compact text, byte for byte as the library's dump() writes it: non-ASCII as UTF-8, members in
// the value's order. Text that is not well-formed UTF-8 throws the library's
// nlohmann::json::type_error (316), with the library's message.
std::string write(const nlohmann::json& value);
std::string write(const nlohmann::ordered_json& value);
// The same text, appended to `out`.
void appendTo(std::string& out, const nlohmann::json& value);
// A JSON string literal of `text`, as write() writes a string, appended to `out`.
void appendQuoted(std::string& out, std::string_view text);
std::string quoted(std::string_view text);

}  // namespace Json
}  // namespace Core
}  // namespace ORBA
