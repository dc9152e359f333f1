#include "plugin/JsonValue.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Json.h"
#include "plugin/OrbaJsonException.h"

namespace ORBA {
namespace {

bool isDroppedKind(const nlohmann::json& value) {
    return value.is_binary() || value.is_discarded();
}

// Where `key` is or would go among `members`.
template <typename Members>
auto memberAt(Members& members, std::string_view key) {
    return std::lower_bound(
        members.begin(), members.end(), key,
        [](const auto& member, std::string_view wanted) { return member.first < wanted; });
}

// Sorts members read in text order by key; of members with the same key the last one read
// stays, as the library's own reading keeps it. Members move in place: a large object is never
// held twice.
template <typename Members>
void putInKeyOrder(Members& members) {
    const auto notAscending = [](const auto& left, const auto& right) {
        return !(left.first < right.first);
    };
    if (std::adjacent_find(members.begin(), members.end(), notAscending) == members.end()) return;

    std::vector<std::uint32_t> order(members.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&members](std::uint32_t left, std::uint32_t right) {
        const int compared = members[left].first.compare(members[right].first);
        return compared < 0 || (compared == 0 && left < right);
    });
    // Position i takes the member at order[i], one cycle of the permutation at a time.
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == i) continue;
        auto held = std::move(members[i]);
        std::size_t at = i;
        while (order[at] != i) {
            const std::size_t from = order[at];
            members[at] = std::move(members[from]);
            order[at] = static_cast<std::uint32_t>(at);
            at = from;
        }
        members[at] = std::move(held);
        order[at] = static_cast<std::uint32_t>(at);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i + 1 < members.size() && members[i].first == members[i + 1].first) continue;
        if (kept != i) members[kept] = std::move(members[i]);
        ++kept;
    }
    members.truncate(kept);
}

}  // namespace

// The items follow their count and room in the same block. Growing moves them, so the block
// belongs to the value holding its address, which every growing call is given.
template <typename Item>
class alignas(8) JsonValue::Items {
public:
    static_assert(alignof(Item) <= 8, "items follow an 8-byte header");

    static Items* make(std::size_t room) {
        if (room > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("JSON container too large");
        }
        void* block = ::operator new(sizeof(Items) + room * sizeof(Item));
        return new (block) Items(static_cast<std::uint32_t>(room));
    }

    static void destroy(Items* items) noexcept {
        if (items == nullptr) return;
        items->truncate(0);
        items->~Items();
        ::operator delete(items);
    }

    static Items* copy(const Items& other) {
        Items* items = make(other.size_);
        try {
            for (const Item& item : other) items->construct(item);
        } catch (...) {
            destroy(items);
            throw;
        }
        return items;
    }

    // Puts a new item at `at`, first doubling the room when it is full.
    template <typename... Arguments>
    static Item& insert(Items*& items, std::size_t at, Arguments&&... arguments) {
        // Made first: an argument may be one of the items, which growing moves.
        Item made(std::forward<Arguments>(arguments)...);
        if (items == nullptr || items->size_ == items->room_) {
            const std::size_t size = items == nullptr ? 0 : items->size_;
            Items* grown = make(size == 0 ? 1 : 2 * size);
            if (items != nullptr) {
                for (Item& item : *items) grown->construct(std::move(item));
                destroy(items);
            }
            items = grown;
        }
        items->construct(std::move(made));
        std::rotate(items->begin() + at, items->end() - 1, items->end());
        return (*items)[at];
    }

    template <typename... Arguments>
    static Item& append(Items*& items, Arguments&&... arguments) {
        return insert(items, items == nullptr ? 0 : items->size_,
                      std::forward<Arguments>(arguments)...);
    }

    void truncate(std::size_t size) noexcept {
        while (size_ > size) begin()[--size_].~Item();
    }

    std::size_t size() const noexcept { return size_; }
    Item* begin() noexcept { return reinterpret_cast<Item*>(this + 1); }
    Item* end() noexcept { return begin() + size_; }
    const Item* begin() const noexcept { return reinterpret_cast<const Item*>(this + 1); }
    const Item* end() const noexcept { return begin() + size_; }
    Item& operator[](std::size_t index) noexcept { return begin()[index]; }
    Item& back() noexcept { return end()[-1]; }

private:
    explicit Items(std::uint32_t room) noexcept : room_(room) {}
    ~Items() = default;

    // Only into room that is free.
    template <typename Argument>
    void construct(Argument&& argument) {
        new (end()) Item(std::forward<Argument>(argument));
        ++size_;
    }

    std::uint32_t size_ = 0;
    std::uint32_t room_;
};

static_assert(sizeof(JsonValue) == 16, "a value of a large command is two words");

JsonValue::JsonValue() noexcept = default;

JsonValue::JsonValue(std::string text) : JsonValue(makeString(text)) {}

JsonValue::JsonValue(const char* text) : JsonValue(makeString(text)) {}

JsonValue::JsonValue(double number) : kind_(JsonKind::Float) { payload_.floating = number; }

JsonValue::JsonValue(std::int64_t number) : kind_(JsonKind::Integer) { payload_.integer = number; }

JsonValue::JsonValue(bool flag) : kind_(JsonKind::Boolean) { payload_.boolean = flag; }

JsonValue JsonValue::makeObject() {
    JsonValue value;
    value.kind_ = JsonKind::Object;
    return value;
}

JsonValue JsonValue::makeArray() {
    JsonValue value;
    value.kind_ = JsonKind::Array;
    return value;
}

JsonValue JsonValue::makeString(std::string_view text) {
    JsonValue value;
    if (text.size() <= kInlineText) {
        if (!text.empty()) std::memcpy(value.payload_.inlineText, text.data(), text.size());
        value.textSize_ = static_cast<std::uint8_t>(text.size());
    } else {
        const std::size_t length = text.size();
        char* block = static_cast<char*>(::operator new(sizeof length + length));
        std::memcpy(block, &length, sizeof length);
        std::memcpy(block + sizeof length, text.data(), length);
        value.payload_.textBlock = block;
        value.textSize_ = kTextInBlock;
    }
    value.kind_ = JsonKind::String;
    return value;
}

std::string_view JsonValue::text() const noexcept {
    if (textSize_ != kTextInBlock) return std::string_view(payload_.inlineText, textSize_);
    std::size_t length = 0;
    std::memcpy(&length, payload_.textBlock, sizeof length);
    return std::string_view(payload_.textBlock + sizeof length, length);
}

JsonValue::JsonValue(const JsonValue& other) { copyFrom(other); }

JsonValue::JsonValue(JsonValue&& other) noexcept
    : kind_(other.kind_), textSize_(other.textSize_), payload_(other.payload_) {
    other.kind_ = JsonKind::Null;
    other.textSize_ = 0;
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
        const std::uint8_t textSize = other.textSize_;
        const Payload payload = other.payload_;
        other.kind_ = JsonKind::Null;
        other.textSize_ = 0;
        other.payload_ = {};
        release();
        kind_ = kind;
        textSize_ = textSize;
        payload_ = payload;
    }
    return *this;
}

JsonValue::~JsonValue() { release(); }

void JsonValue::release() noexcept {
    switch (kind_) {
        case JsonKind::String:
            if (textSize_ == kTextInBlock) ::operator delete(payload_.textBlock);
            break;
        case JsonKind::Object: Members::destroy(payload_.object); break;
        case JsonKind::Array: Elements::destroy(payload_.array); break;
        default: break;
    }
    kind_ = JsonKind::Null;
    textSize_ = 0;
    payload_ = {};
}

void JsonValue::copyFrom(const JsonValue& other) {
    switch (other.kind_) {
        case JsonKind::String: *this = makeString(other.text()); return;
        case JsonKind::Object:
            if (other.payload_.object != nullptr) {
                payload_.object = Members::copy(*other.payload_.object);
            }
            break;
        case JsonKind::Array:
            if (other.payload_.array != nullptr) {
                payload_.array = Elements::copy(*other.payload_.array);
            }
            break;
        default: payload_ = other.payload_; break;
    }
    kind_ = other.kind_;
}

bool JsonValue::contains(std::string_view key) const {
    if (kind_ != JsonKind::Object || payload_.object == nullptr) return false;
    const auto found = memberAt(*payload_.object, key);
    return found != payload_.object->end() && found->first == key;
}

JsonValue& JsonValue::operator[](std::string_view key) {
    if (kind_ != JsonKind::Object) *this = makeObject();
    if (payload_.object != nullptr) {
        const auto found = memberAt(*payload_.object, key);
        if (found != payload_.object->end() && found->first == key) return found->second;
        const auto at = static_cast<std::size_t>(found - payload_.object->begin());
        return Members::insert(payload_.object, at, key, JsonValue()).second;
    }
    return Members::append(payload_.object, key, JsonValue()).second;
}

const JsonValue& JsonValue::at(std::string_view key) const {
    if (kind_ == JsonKind::Object && payload_.object != nullptr) {
        const auto found = memberAt(*payload_.object, key);
        if (found != payload_.object->end() && found->first == key) return found->second;
    }
    throw std::out_of_range("invalid map<K, T> key");
}

void JsonValue::pushBack(JsonValue element) {
    if (kind_ != JsonKind::Array) *this = makeArray();
    Elements::append(payload_.array, std::move(element));
}

std::string JsonValue::asString() const {
    return kind_ == JsonKind::String ? std::string(text()) : std::string();
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
    if (kind_ == JsonKind::Object && payload_.object != nullptr) return payload_.object->size();
    if (kind_ == JsonKind::Array && payload_.array != nullptr) return payload_.array->size();
    return 0;
}

std::string JsonValue::toJsonText() const {
    if (kind_ != JsonKind::Object && kind_ != JsonKind::Array) return std::string();
    return Core::Json::write(toJson());
}

nlohmann::json JsonValue::toJson() const {
    switch (kind_) {
        case JsonKind::String: return std::string(text());
        case JsonKind::Float: return payload_.floating;
        case JsonKind::Integer: return payload_.integer;
        case JsonKind::Boolean: return payload_.boolean;
        case JsonKind::Object: {
            nlohmann::json object = nlohmann::json::object();
            if (payload_.object == nullptr) return object;
            for (const auto& member : *payload_.object) object[member.first] = member.second.toJson();
            return object;
        }
        case JsonKind::Array: {
            nlohmann::json array = nlohmann::json::array();
            if (payload_.array == nullptr) return array;
            for (const auto& element : *payload_.array) array.push_back(element.toJson());
            return array;
        }
        case JsonKind::Null: break;
    }
    return nullptr;
}

// Writes a value as Core::Json::write() does, taking it apart as it goes. Every scalar, key and
// text is written by Core::Json, so numbers and escapes come out as its own.
class ConsumingWriter {
public:
    explicit ConsumingWriter(std::string& text) : text_(text) {}

    void write(JsonValue& value) {
        switch (value.kind_) {
            case JsonKind::String:
                Core::Json::appendQuoted(text_, value.text());
                break;
            case JsonKind::Object: {
                if (value.payload_.object == nullptr) {
                    text_ += "{}";
                    break;
                }
                JsonValue::Members& members = *value.payload_.object;
                text_ += '{';
                for (std::size_t i = 0; i < members.size(); ++i) {
                    if (i != 0) text_ += ',';
                    Core::Json::appendQuoted(text_, members[i].first);
                    std::string().swap(members[i].first);  // freed once written, as values are
                    text_ += ':';
                    write(members[i].second);
                }
                text_ += '}';
                break;
            }
            case JsonKind::Array: {
                if (value.payload_.array == nullptr) {
                    text_ += "[]";
                    break;
                }
                JsonValue::Elements& elements = *value.payload_.array;
                text_ += '[';
                for (std::size_t i = 0; i < elements.size(); ++i) {
                    if (i != 0) text_ += ',';
                    write(elements[i]);
                }
                text_ += ']';
                break;
            }
            default:
                writeScalar(value.toJson());
                break;
        }
        value.release();
    }

private:
    void writeScalar(const nlohmann::json& scalar) { Core::Json::appendTo(text_, scalar); }

    std::string& text_;
};

std::string JsonValue::intoJsonText(JsonValue&& value) {
    JsonValue taken(std::move(value));
    std::string text;
    ConsumingWriter(text).write(taken);
    return text;
}

JsonValue JsonValue::fromJson(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::string:
            return makeString(value.get_ref<const std::string&>());
        case nlohmann::json::value_t::boolean: return JsonValue(value.get<bool>());
        case nlohmann::json::value_t::number_float: return JsonValue(value.get<double>());
        // Unsigned numbers are read the library's way, as a signed 64-bit integer.
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned: return JsonValue(value.get<std::int64_t>());
        case nlohmann::json::value_t::object: {
            JsonValue object = makeObject();
            for (const auto& member : value.items()) {
                if (isDroppedKind(member.value())) continue;
                // The library's objects are in the same key order.
                Members::append(object.payload_.object, member.key(), fromJson(member.value()));
            }
            return object;
        }
        case nlohmann::json::value_t::array: {
            JsonValue array = makeArray();
            for (const auto& element : value) {
                if (isDroppedKind(element)) continue;
                Elements::append(array.payload_.array, fromJson(element));
            }
            return array;
        }
        default: return JsonValue();
    }
}

// The member or element count of every object and array of a text, in the order they open.
// Knowing them, the reader gives each its exact room: grown by doubling, a long array of small
// numbers would take up to three times its final size while it moves. Held beside the whole
// value, a count takes one byte; the few that do not fit are kept aside.
struct ContainerSizes {
    static constexpr std::uint8_t kAside = 0xFF;

    std::vector<std::uint8_t> counts;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> aside;  // (container, count), sorted

    // 0 for a container not counted.
    std::size_t of(std::size_t container) const {
        if (container >= counts.size()) return 0;
        if (counts[container] != kAside) return counts[container];
        const auto found = std::lower_bound(
            aside.begin(), aside.end(), container,
            [](const auto& entry, std::size_t wanted) { return entry.first < wanted; });
        return found != aside.end() && found->first == container ? found->second : 0;
    }
};

class ContainerCounter final : public Core::Json::Events {
public:
    ContainerSizes sizes;

    bool null() override { return element(); }
    bool boolean(bool) override { return element(); }
    bool integer(std::int64_t) override { return element(); }
    bool unsignedInteger(std::uint64_t) override { return element(); }
    bool floating(double) override { return element(); }
    bool string(std::string&) override { return element(); }
    bool startObject() override { return open(); }
    bool key(std::string&) override { return true; }
    bool endObject() override { return close(); }
    bool startArray() override { return open(); }
    bool endArray() override { return close(); }

    // Called once the text is read.
    void finish() {
        sizes.counts.shrink_to_fit();
        std::sort(sizes.aside.begin(), sizes.aside.end());
    }

private:
    // A key given twice counts twice: the room is a bound, not the final size.
    bool element() {
        if (!open_.empty()) ++open_.back().second;
        return true;
    }
    // Stops where the reading pass refuses the nesting.
    bool open() {
        element();
        if (open_.size() >= static_cast<std::size_t>(kMaxCommandDepth)) return false;
        open_.emplace_back(static_cast<std::uint32_t>(sizes.counts.size()), 0);
        sizes.counts.push_back(0);
        return true;
    }
    bool close() {
        const auto [container, count] = open_.back();
        open_.pop_back();
        if (count < ContainerSizes::kAside) {
            sizes.counts[container] = static_cast<std::uint8_t>(count);
        } else {
            sizes.counts[container] = ContainerSizes::kAside;
            sizes.aside.emplace_back(container, count);
        }
        return true;
    }

    std::vector<std::pair<std::uint32_t, std::uint32_t>> open_;  // (container, count so far)
};

// Builds the command's value straight from the parser's events, without the library's own tree
// in between: a large command is held once, not twice.
class CommandTextReader final : public Core::Json::Events {
public:
    // `sizes`: what ContainerCounter found in the same text, or nothing.
    explicit CommandTextReader(const ContainerSizes& sizes) : sizes_(sizes) {}

    JsonValue root;

    bool null() override { return place(JsonValue()) != nullptr; }
    bool boolean(bool flag) override { return place(JsonValue(flag)) != nullptr; }
    bool integer(std::int64_t number) override { return place(JsonValue(number)) != nullptr; }
    // Integers above the signed range are read the library's way, wrapped to a signed 64-bit one.
    bool unsignedInteger(std::uint64_t number) override {
        return place(JsonValue(static_cast<std::int64_t>(number))) != nullptr;
    }
    bool floating(double number) override { return place(JsonValue(number)) != nullptr; }
    // The parser keeps its buffer for the next text.
    bool string(std::string& text) override {
        return place(JsonValue::makeString(text)) != nullptr;
    }

    bool startObject() override {
        open(JsonValue::makeObject());
        if (const std::size_t size = nextSize()) {
            open_.back()->payload_.object = JsonValue::Members::make(size);
        }
        return true;
    }
    // Members come in text order and are sorted when the object closes.
    bool key(std::string& name) override {
        member_ = &JsonValue::Members::append(open_.back()->payload_.object, std::move(name),
                                              JsonValue())
                       .second;
        return true;
    }
    bool endObject() override {
        if (JsonValue::Members* members = open_.back()->payload_.object) putInKeyOrder(*members);
        return close();
    }
    bool startArray() override {
        open(JsonValue::makeArray());
        if (const std::size_t size = nextSize()) {
            open_.back()->payload_.array = JsonValue::Elements::make(size);
        }
        return true;
    }
    bool endArray() override { return close(); }

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
            return &JsonValue::Elements::append(container->payload_.array, std::move(value));
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

    // The counted size of the container just opened; 0 when not counted.
    std::size_t nextSize() {
        return sizes_.of(nextContainer_++);
    }

    std::vector<JsonValue*> open_;
    JsonValue* member_ = nullptr;
    const ContainerSizes& sizes_;
    std::size_t nextContainer_ = 0;
};

// Below this a command is read in one pass: its containers are too small for their growth to
// matter.
const std::size_t kCountedTextBytes = 16 << 10;

JsonValue parseCommandText(const std::string& text) {
    ContainerSizes sizes;
    CommandTextReader reader(sizes);
    try {
        if (text.size() >= kCountedTextBytes) {
            // Its errors are the reading pass's to report.
            ContainerCounter counter;
            Core::Json::read(text, counter);
            counter.finish();
            sizes = std::move(counter.sizes);
        }
        if (const auto error = Core::Json::read(text, reader)) {
            throw Core::ORBAJsonException("command text is not valid JSON: " + error->describe());
        }
    } catch (const Core::ORBAJsonException&) {
        throw;
    } catch (const std::exception& error) {
        throw Core::ORBAJsonException(error.what());
    }
    if (!reader.root.is(JsonKind::Object) && !reader.root.is(JsonKind::Array)) return JsonValue();
    return std::move(reader.root);
}

}  // namespace ORBA
