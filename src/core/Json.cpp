#include "core/Json.h"

#include <charconv>
#include <utility>

#include "core/Utf.h"

namespace ORBA {
namespace Core {
namespace Json {
namespace {

// Tells `kind` apart from the text and where reading stopped, not from the library's message:
// that message quotes the text.
ParseErrorKind kindOf(int id, std::size_t byte, const std::string& text) {
    if (id == 406) return ParseErrorKind::NumberRange;
    if (id != 101) return ParseErrorKind::Other;
    // The reader counts the end of the text as one byte read.
    if (byte > text.size()) return ParseErrorKind::EndOfText;
    // The reader checks UTF-8 within strings only, and a byte that is not UTF-8 fits nowhere
    // else either: a sequence going wrong at or before where it stopped is why it stopped.
    if (firstIllFormedUtf8(std::string_view(text).substr(0, byte)) < byte) return ParseErrorKind::Utf8;
    return ParseErrorKind::Syntax;
}

// Passes the library's reading events on to an Events.
class EventsAdapter {
public:
    EventsAdapter(const std::string& text, Events& events) : text_(text), events_(events) {}

    std::optional<ParseError> error;

    bool null() { return events_.null(); }
    bool boolean(bool flag) { return events_.boolean(flag); }
    bool number_integer(std::int64_t number) { return events_.integer(number); }
    bool number_unsigned(std::uint64_t number) {
        // The library reports every non-negative integer as unsigned.
        if (number <= static_cast<std::uint64_t>(INT64_MAX)) {
            return events_.integer(static_cast<std::int64_t>(number));
        }
        return events_.unsignedInteger(number);
    }
    bool number_float(double number, const std::string&) { return events_.floating(number); }
    bool string(std::string& text) { return events_.string(text); }
    // JSON text holds no byte arrays.
    bool binary(nlohmann::json::binary_t&) { return events_.null(); }
    bool start_object(std::size_t) { return events_.startObject(); }
    bool key(std::string& name) { return events_.key(name); }
    bool end_object() { return events_.endObject(); }
    bool start_array(std::size_t) { return events_.startArray(); }
    bool end_array() { return events_.endArray(); }

    // The token and message are left unread: both can quote the text.
    bool parse_error(std::size_t byte, const std::string&, const nlohmann::json::exception& what) {
        error = ParseError{what.id, byte, kindOf(what.id, byte, text_)};
        return false;
    }

private:
    const std::string& text_;
    Events& events_;
};

template <typename Value>
std::string writeValue(const Value& value) {
    return value.dump(-1, ' ', /*ensure_ascii=*/false, nlohmann::json::error_handler_t::strict);
}

// The library's writer makes a writer object and a text of its own for every value it writes;
// the values of a large command are many and small. So texts, integers and containers are
// written here, byte for byte as the library writes them, and only what is rare or intricate
// (floating-point numbers, text that is not UTF-8 and so fails) is handed to the library.

// The library escapes these and every other byte below 0x20, as \u00XX in lower-case hex.
const char* shortEscape(unsigned char byte) {
    switch (byte) {
        case '\b':
            return "\\b";
        case '\t':
            return "\\t";
        case '\n':
            return "\\n";
        case '\f':
            return "\\f";
        case '\r':
            return "\\r";
        case '"':
            return "\\\"";
        case '\\':
            return "\\\\";
        default:
            return nullptr;
    }
}

void appendEscaped(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::size_t plain = 0;  // where the bytes not yet appended start
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        if (const char* escape = shortEscape(byte)) {
            out += escape;
        } else {
            const char code[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
            out.append(code, sizeof code);
        }
    }
    out.append(text.data() + plain, text.size() - plain);
}

template <typename Integer>
void appendInteger(std::string& out, Integer number) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, written.ptr);
}

}  // namespace

void appendQuoted(std::string& out, std::string_view text) {
    if (firstIllFormedUtf8(text) != text.size()) {
        // The library's own error, as its writer gives it.
        out += writeValue(nlohmann::json(std::string(text)));
        return;
    }
    out += '"';
    appendEscaped(out, text);
    out += '"';
}

void appendTo(std::string& out, const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::object: {
            out += '{';
            bool first = true;
            for (const auto& member : value.get_ref<const nlohmann::json::object_t&>()) {
                if (!first) out += ',';
                first = false;
                appendQuoted(out, member.first);
                out += ':';
                appendTo(out, member.second);
            }
            out += '}';
            return;
        }
        case nlohmann::json::value_t::array: {
            out += '[';
            bool first = true;
            for (const nlohmann::json& element : value) {
                if (!first) out += ',';
                first = false;
                appendTo(out, element);
            }
            out += ']';
            return;
        }
        case nlohmann::json::value_t::string:
            appendQuoted(out, value.get_ref<const std::string&>());
            return;
        case nlohmann::json::value_t::boolean:
            out += value.get<bool>() ? "true" : "false";
            return;
        case nlohmann::json::value_t::null:
            out += "null";
            return;
        case nlohmann::json::value_t::number_integer:
            appendInteger(out, value.get<std::int64_t>());
            return;
        case nlohmann::json::value_t::number_unsigned:
            appendInteger(out, value.get<std::uint64_t>());
            return;
        default:
            out += writeValue(value);
            return;
    }
}

std::string ParseError::describe() const {
    const std::string at = std::to_string(byte);
    switch (kind) {
        case ParseErrorKind::Syntax:
            return "syntax error at byte " + at;
        case ParseErrorKind::EndOfText:
            return byte <= 1 ? std::string("empty text")
                             : "unexpected end after byte " + std::to_string(byte - 1);
        case ParseErrorKind::Utf8:
            return "invalid UTF-8 at byte " + at;
        case ParseErrorKind::NumberRange:
            return "number out of range at byte " + at;
        case ParseErrorKind::Other:
            break;
    }
    return "error " + std::to_string(id) + " at byte " + at;
}

std::optional<ParseError> read(const std::string& text, Events& events) {
    EventsAdapter adapter(text, events);
    nlohmann::json::sax_parse(text, &adapter, nlohmann::json::input_format_t::json,
                              /*strict=*/true, /*ignore_comments=*/false);
    return std::move(adapter.error);
}

nlohmann::json parseOrDiscarded(std::string_view text) {
    return nlohmann::json::parse(text, /*cb=*/nullptr, /*allow_exceptions=*/false,
                                 /*ignore_comments=*/false);
}

std::string write(const nlohmann::json& value) {
    std::string text;
    appendTo(text, value);
    return text;
}

std::string write(const nlohmann::ordered_json& value) { return writeValue(value); }

std::string quoted(std::string_view text) {
    std::string literal;
    literal.reserve(text.size() + 2);
    appendQuoted(literal, text);
    return literal;
}

}  // namespace Json
}  // namespace Core
}  // namespace ORBA
