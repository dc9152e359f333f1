#include "plugin/JsonValue.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plugin/OrbaJsonException.h"

namespace ORBA {
namespace {

bool isDroppedKind(const nlohmann::json& value) {
    return value.is_binary() || value.is_discarded();
}

// The length of the well-formed UTF-8 character starting at `text[i]`, or 0 when none does.
std::size_t characterLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t at) {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    const unsigned lead = byte(i);
    const auto continues = [&](std::size_t at, unsigned low = 0x80, unsigned high = 0xBF) {
        return byte(at) >= low && byte(at) <= high;
    };
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return continues(i + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        return continues(i + 1, low, high) && continues(i + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing beyond U+10FFFF
        return continues(i + 1, low, high) && continues(i + 2) && continues(i + 3) ? 4 : 0;
    }
    return 0;
}

// Throws what the JSON library throws when it writes `text`, if it is not well-formed UTF-8.
void requireUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = characterLength(text, i);
        if (length == 0) {
            nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
            throw std::range_error("bad conversion");  // not reached: the library refuses it
        }
        i += length;
    }
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The parser's message without the text it stopped at, which can be any part of the command (a
// dev key among them): "...; last read: '<token>'" optionally followed by "; expected <what>",
// and "number overflow parsing '<token>'". The error id, position and reason stay.
std::string withoutLastToken(const std::string& message) {
    static const char* const kExpected[] = {
        "true literal", "false literal", "null literal", "string literal", "number literal",
        "'['", "'{'", "']'", "'}'", "':'", "','", "<parse error>", "end of input",
        "'[', '{', or a literal", "<uninitialized>", "unknown token"};
    const std::string lastRead = "; last read: '";
    const std::size_t token = message.find(lastRead);
    if (token != std::string::npos) {
        std::string kept = message.substr(0, token);
        for (const char* expected : kExpected) {
            const std::string suffix = std::string("'; expected ") + expected;
            if (endsWith(message, suffix) && message.size() - suffix.size() >= token + lastRead.size()) {
                kept += suffix.substr(1);
                break;
            }
        }
        return kept;
    }
    const std::string overflow = "number overflow parsing";
    const std::size_t number = message.find(overflow + " '");
    if (number != std::string::npos) return message.substr(0, number + overflow.size());
    return message;
}

}  // namespace

JsonValue::JsonValue() noexcept = default;

JsonValue::JsonValue(std::string text) : kind_(JsonKind::String) {
    payload_.string = new std::string(std::move(text));
}

JsonValue::JsonValue(const char* text) : JsonValue(std::string(text)) {}

JsonValue::JsonValue(double number) : kind_(JsonKind::Float) { payload_.floating = number; }

JsonValue::JsonValue(std::int64_t number) : kind_(JsonKind::Integer) { payload_.integer = number; }

JsonValue::JsonValue(bool flag) : kind_(JsonKind::Boolean) { payload_.boolean = flag; }

JsonValue JsonValue::makeObject() {
    JsonValue value;
    value.payload_.object = new ObjectMap();
    value.kind_ = JsonKind::Object;
    return value;
}

JsonValue JsonValue::makeArray() {
    JsonValue value;
    value.payload_.array = new ArrayList();
    value.kind_ = JsonKind::Array;
    return value;
}

JsonValue::JsonValue(const JsonValue& other) { copyFrom(other); }

JsonValue::JsonValue(JsonValue&& other) noexcept : kind_(other.kind_), payload_(other.payload_) {
    other.kind_ = JsonKind::Null;
    other.payload_ = {};
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
    if (this != &other) {
        JsonValue copy(other);  // copy first: `other` may live inside this value
        *this = std::move(copy);
    }
    return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
    if (this != &other) {
        const JsonKind kind = other.kind_;
        const Payload payload = other.payload_;
        other.kind_ = JsonKind::Null;
        other.payload_ = {};
        release();
        kind_ = kind;
        payload_ = payload;
    }
    return *this;
}

JsonValue::~JsonValue() { release(); }

void JsonValue::release() noexcept {
    switch (kind_) {
        case JsonKind::String: delete payload_.string; break;
        case JsonKind::Object: delete payload_.object; break;
        case JsonKind::Array: delete payload_.array; break;
        default: break;
    }
    kind_ = JsonKind::Null;
    payload_ = {};
}

void JsonValue::copyFrom(const JsonValue& other) {
    switch (other.kind_) {
        case JsonKind::String: payload_.string = new std::string(*other.payload_.string); break;
        case JsonKind::Object: payload_.object = new ObjectMap(*other.payload_.object); break;
        case JsonKind::Array: payload_.array = new ArrayList(*other.payload_.array); break;
        default: payload_ = other.payload_; break;
    }
    kind_ = other.kind_;
}

bool JsonValue::contains(const std::string& key) const {
    return kind_ == JsonKind::Object && payload_.object->count(key) != 0;
}

JsonValue& JsonValue::operator[](const std::string& key) {
    if (kind_ != JsonKind::Object) *this = makeObject();
    return (*payload_.object)[key];
}

const JsonValue& JsonValue::at(const std::string& key) const {
    if (kind_ == JsonKind::Object) {
        const auto found = payload_.object->find(key);
        if (found != payload_.object->end()) return found->second;
    }
    throw std::out_of_range("invalid map<K, T> key");
}

void JsonValue::pushBack(JsonValue element) {
    if (kind_ != JsonKind::Array) *this = makeArray();
    payload_.array->push_back(std::move(element));
}

std::string JsonValue::asString() const {
    return kind_ == JsonKind::String ? *payload_.string : std::string();
}

bool JsonValue::asBool() const noexcept { return kind_ == JsonKind::Boolean && payload_.boolean; }

std::int64_t JsonValue::asInteger() const noexcept {
    return kind_ == JsonKind::Integer ? payload_.integer : 0;
}

double JsonValue::asDouble() const noexcept {
    if (kind_ == JsonKind::Integer) return static_cast<double>(payload_.integer);
    return kind_ == JsonKind::Float ? payload_.floating : 0.0;
}

std::size_t JsonValue::size() const noexcept {
    if (kind_ == JsonKind::Object) return payload_.object->size();
    if (kind_ == JsonKind::Array) return payload_.array->size();
    return 0;
}

std::string JsonValue::toJsonText() const {
    if (kind_ != JsonKind::Object && kind_ != JsonKind::Array) return std::string();
    return toJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

nlohmann::json JsonValue::toJson() const {
    switch (kind_) {
        case JsonKind::String: return *payload_.string;
        case JsonKind::Float: return payload_.floating;
        case JsonKind::Integer: return payload_.integer;
        case JsonKind::Boolean: return payload_.boolean;
        case JsonKind::Object: {
            nlohmann::json object = nlohmann::json::object();
            for (const auto& member : *payload_.object) object[member.first] = member.second.toJson();
            return object;
        }
        case JsonKind::Array: {
            nlohmann::json array = nlohmann::json::array();
            for (const auto& element : *payload_.array) array.push_back(element.toJson());
            return array;
        }
        case JsonKind::Null: break;
    }
    return nullptr;
}

nlohmann::json JsonValue::intoJson(JsonValue&& value) {
    JsonValue taken(std::move(value));
    switch (taken.kind_) {
        case JsonKind::String:
            requireUtf8(*taken.payload_.string);
            return std::move(*taken.payload_.string);
        case JsonKind::Object: {
            nlohmann::json object = nlohmann::json::object();
            auto& target = object.get_ref<nlohmann::json::object_t&>();
            ObjectMap& members = *taken.payload_.object;
            while (!members.empty()) {
                auto member = members.extract(members.begin());
                requireUtf8(member.key());
                nlohmann::json converted = intoJson(std::move(member.mapped()));
                target.emplace_hint(target.end(), std::move(member.key()), std::move(converted));
            }
            return object;
        }
        case JsonKind::Array: {
            nlohmann::json array = nlohmann::json::array();
            auto& target = array.get_ref<nlohmann::json::array_t&>();
            ArrayList& elements = *taken.payload_.array;
            target.reserve(elements.size());
            for (JsonValue& element : elements) target.push_back(intoJson(std::move(element)));
            return array;
        }
        default: return taken.toJson();
    }
}

JsonValue JsonValue::fromJson(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::string: return JsonValue(value.get_ref<const std::string&>());
        case nlohmann::json::value_t::boolean: return JsonValue(value.get<bool>());
        case nlohmann::json::value_t::number_float: return JsonValue(value.get<double>());
        // Unsigned numbers are read the library's way, as a signed 64-bit integer.
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned: return JsonValue(value.get<std::int64_t>());
        case nlohmann::json::value_t::object: {
            JsonValue object = makeObject();
            for (const auto& member : value.items()) {
                if (isDroppedKind(member.value())) continue;
                object.payload_.object->emplace(member.key(), fromJson(member.value()));
            }
            return object;
        }
        case nlohmann::json::value_t::array: {
            JsonValue array = makeArray();
            for (const auto& element : value) {
                if (isDroppedKind(element)) continue;
                array.payload_.array->push_back(fromJson(element));
            }
            return array;
        }
        default: return JsonValue();
    }
}

// Builds the command's value straight from the parser's events, without the library's own tree
// in between: a large command is held once, not twice.
class CommandTextReader {
public:
    JsonValue root;

    bool null() { return place(JsonValue()) != nullptr; }
    bool boolean(bool flag) { return place(JsonValue(flag)) != nullptr; }
    bool number_integer(std::int64_t number) { return place(JsonValue(number)) != nullptr; }
    // Unsigned numbers are read the library's way, as a signed 64-bit integer.
    bool number_unsigned(std::uint64_t number) {
        return place(JsonValue(static_cast<std::int64_t>(number))) != nullptr;
    }
    bool number_float(double number, const std::string&) { return place(JsonValue(number)) != nullptr; }
    bool string(std::string& text) { return place(JsonValue(std::move(text))) != nullptr; }
    // Text never holds binary values.
    bool binary(nlohmann::json::binary_t&) { return place(JsonValue()) != nullptr; }

    bool start_object(std::size_t) { return open(JsonValue::makeObject()); }
    bool key(std::string& name) {
        member_ = &(*open_.back()->payload_.object)[std::move(name)];
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(JsonValue::makeArray()); }
    bool end_array() { return close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
        throw Core::ORBAJsonException(withoutLastToken(error.what()));
    }

private:
    // Where the next value goes: the top level, the end of the open array, or the member whose
    // key came last. The addresses stay valid: nothing is added to an outer container while an
    // inner one is open.
    JsonValue* place(JsonValue value) {
        if (open_.empty()) {
            root = std::move(value);
            return &root;
        }
        JsonValue* container = open_.back();
        if (container->kind_ == JsonKind::Array) {
            container->payload_.array->push_back(std::move(value));
            return &container->payload_.array->back();
        }
        *member_ = std::move(value);
        return member_;
    }

    // Converting, copying, serialising and freeing a value all recurse once per level, so a text
    // nested many thousands deep would overflow the host thread's stack. Refusing as the level
    // opens keeps even the partial value shallow.
    bool open(JsonValue container) {
        if (open_.size() >= static_cast<std::size_t>(kMaxCommandDepth)) {
            throw Core::ORBAJsonException("command text nested deeper than " +
                                          std::to_string(kMaxCommandDepth) + " levels");
        }
        open_.push_back(place(std::move(container)));
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    std::vector<JsonValue*> open_;
    JsonValue* member_ = nullptr;
};

JsonValue parseCommandText(const std::string& text) {
    CommandTextReader reader;
    try {
        nlohmann::json::sax_parse(text, &reader, nlohmann::json::input_format_t::json,
                                  /*strict=*/true, /*ignore_comments=*/false);
    } catch (const Core::ORBAJsonException&) {
        throw;
    } catch (const std::exception& error) {
        throw Core::ORBAJsonException(error.what());
    }
    if (!reader.root.is(JsonKind::Object) && !reader.root.is(JsonKind::Array)) return JsonValue();
    return std::move(reader.root);
}

}  // namespace ORBA
