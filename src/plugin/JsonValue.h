// The plug-in's own JSON value, into which every command text is converted before a handler
// reads it: a kind tag and a one-word payload, with value semantics. A large command holds
// millions of them, so a value takes 16 bytes and allocates nothing when it can: a text of up to
// 8 bytes is kept in the payload itself, a longer one in a single block behind its length; an
// object's members or an array's elements are one block behind their count, and an empty object
// or array holds no block at all.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ORBA {

enum class JsonKind : std::int32_t {
    String = 0,
    Float = 1,
    Integer = 2,
    Boolean = 3,
    Object = 4,
    Array = 5,
    Null = 6,
};

class JsonValue {
public:
    JsonValue() noexcept;  // Null
    explicit JsonValue(std::string text);
    explicit JsonValue(const char* text);
    explicit JsonValue(double number);
    explicit JsonValue(std::int64_t number);
    explicit JsonValue(bool flag);
    static JsonValue makeObject();
    static JsonValue makeArray();

    JsonValue(const JsonValue& other);
    JsonValue(JsonValue&& other) noexcept;
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&& other) noexcept;
    ~JsonValue();

    JsonKind kind() const noexcept { return kind_; }
    bool is(JsonKind kind) const noexcept { return kind_ == kind; }

    // True only for an Object with a member `key`.
    bool contains(std::string_view key) const;

    // Turns a non-Object into an empty Object first, then returns the member, inserting Null.
    // Adding a member moves the object's other members.
    JsonValue& operator[](std::string_view key);

    // The member of an Object; throws std::out_of_range("invalid map<K, T> key") when absent.
    const JsonValue& at(std::string_view key) const;

    // Appends to an Array; a non-Array first becomes an empty Array.
    void pushBack(JsonValue element);

    // The text of a String; empty for every other kind.
    std::string asString() const;
    // The Boolean payload; false for every other kind.
    bool asBool() const noexcept;
    // The Integer payload; 0 for every other kind.
    std::int64_t asInteger() const noexcept;
    // An Integer converted to double, or the Float payload; 0 for every other kind.
    double asDouble() const noexcept;
    // Member count of an Object, element count of an Array, 0 otherwise.
    std::size_t size() const noexcept;

    // Object or Array as compact JSON text (Core::Json::write()); empty for other kinds. Throws
    // the JSON library's type error on text that is not well-formed UTF-8.
    std::string toJsonText() const;

    // The same value as the JSON library's value.
    nlohmann::json toJson() const;
    // The text toJsonText gives (a scalar at the top level is written too), written while
    // `value` is taken apart, so that a large value and its text are not held in full together.
    // Throws the JSON library's type error, as toJsonText does, on text that is not UTF-8.
    static std::string intoJsonText(JsonValue&& value);
    // Kind-by-kind conversion; byte arrays and discarded values yield Null.
    static JsonValue fromJson(const nlohmann::json& value);

private:
    friend class CommandTextReader;
    friend class ConsumingWriter;

    // A container's items, defined with the value's code.
    template <typename Item>
    class Items;
    // Members ordered by byte-wise key comparison, each key once. Kept in one block rather than
    // a tree: a member of a large command costs half as much, and its value stays in place.
    using Member = std::pair<std::string, JsonValue>;
    using Members = Items<Member>;
    using Elements = Items<JsonValue>;

    // `textSize_` of a String whose text is in a block: the block starts with the text's length.
    static constexpr std::uint8_t kTextInBlock = 0xFF;
    static constexpr std::size_t kInlineText = 8;

    static JsonValue makeString(std::string_view text);
    std::string_view text() const noexcept;
    void release() noexcept;
    void copyFrom(const JsonValue& other);

    JsonKind kind_ = JsonKind::Null;
    std::uint8_t textSize_ = 0;  // String only: the inline text's length, or kTextInBlock
    union Payload {
        char inlineText[kInlineText];
        char* textBlock;
        double floating;
        std::int64_t integer;
        bool boolean;
        Members* object;   // null while empty
        Elements* array;   // null while empty
    } payload_{};
};

// How many objects and arrays a command text may nest, the top level included.
constexpr int kMaxCommandDepth = 128;

// Parses one command text strictly (no comments, nothing but white space after the value, a
// leading UTF-8 byte-order mark accepted). Only an Object or Array survives at the top level;
// any other top level yields Null. Throws Core::ORBAJsonException with "command text is not valid
// JSON: " and what went wrong where (Core::Json::ParseError::describe(), none of the text), or with
// "command text nested deeper than 128 levels" when it nests more than kMaxCommandDepth.
JsonValue parseCommandText(const std::string& text);

}  // namespace ORBA
