#include "plugin/JsonValue.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "plugin/OrbaJsonException.h"

namespace ORBA {
namespace {

bool isDroppedKind(const nlohmann::json& value) {
    return value.is_binary() || value.is_discarded();
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

JsonValue parseCommandText(const std::string& text) {
    // Converting, copying, serialising and freeing a value all recurse once per level, so a text
    // nested many thousands deep would overflow the host thread's stack. The parser reports the
    // depth of every value it opens; refusing there keeps even the partial value shallow.
    const nlohmann::json::parser_callback_t limitDepth =
        [](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
            if (depth >= kMaxCommandDepth && (event == nlohmann::json::parse_event_t::object_start ||
                                              event == nlohmann::json::parse_event_t::array_start)) {
                throw std::length_error("command text nested deeper than " +
                                        std::to_string(kMaxCommandDepth) + " levels");
            }
            return true;
        };
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(text, limitDepth, /*allow_exceptions=*/true,
                                       /*ignore_comments=*/false);
    } catch (const std::exception& error) {
        throw Core::ORBAJsonException(error.what());
    }
    if (!parsed.is_object() && !parsed.is_array()) return JsonValue();
    return JsonValue::fromJson(parsed);
}

}  // namespace ORBA
