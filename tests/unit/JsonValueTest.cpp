#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Json.h"
#include "plugin/JsonValue.h"
#include "plugin/OrbaJsonException.h"

using ORBA::JsonKind;
using ORBA::JsonValue;
using ORBA::parseCommandText;

namespace {

TEST(JsonValueTest, ConvertsEveryKindFromCommandText) {
    const JsonValue root = parseCommandText(
        R"({"s":"x","f":5.0,"i":5,"u":18446744073709551615,"b":true,"n":null,"o":{"k":1},"a":[1,"2"]})");
    ASSERT_TRUE(root.is(JsonKind::Object));
    EXPECT_EQ(root.at("s").kind(), JsonKind::String);
    EXPECT_EQ(root.at("f").kind(), JsonKind::Float);
    EXPECT_EQ(root.at("i").kind(), JsonKind::Integer);
    EXPECT_EQ(root.at("u").asInteger(), -1);  // the library's signed reading
    EXPECT_EQ(root.at("b").kind(), JsonKind::Boolean);
    EXPECT_EQ(root.at("n").kind(), JsonKind::Null);
    EXPECT_EQ(root.at("o").size(), 1u);
    EXPECT_EQ(root.at("a").size(), 2u);
    EXPECT_EQ(root.at("a").toJsonText(), R"([1,"2"])");
}

TEST(JsonValueTest, TopLevelScalarsBecomeNullAndArraysSurvive) {
    EXPECT_TRUE(parseCommandText(R"("text")").is(JsonKind::Null));
    EXPECT_TRUE(parseCommandText("12").is(JsonKind::Null));
    EXPECT_TRUE(parseCommandText("null").is(JsonKind::Null));
    EXPECT_TRUE(parseCommandText("[1,2]").is(JsonKind::Array));
    EXPECT_TRUE(parseCommandText("\xEF\xBB\xBF{}").is(JsonKind::Object));  // byte-order mark
}

TEST(JsonValueTest, ParseErrorsNameTheKindAndTheByte) {
    const std::pair<std::string, const char*> cases[] = {
        {"{", "unexpected end after byte 1"},
        {"", "empty text"},
        {"{} x", "syntax error at byte 4"},
        {"{/*c*/}", "syntax error at byte 2"},
        {"{\"a\":\"\x80\"}", "invalid UTF-8 at byte 7"},
        {"{\"a\":\"\xC3(\"}", "invalid UTF-8 at byte 8"},
        {"[1e400]", "number out of range at byte 6"},
        // Long enough to be read twice, counting its containers first.
        {"{\"a\":\"" + std::string(20000, 'x') + "\",}", "syntax error at byte 20009"},
    };
    for (const auto& [text, expected] : cases) {
        try {
            parseCommandText(text);
            ADD_FAILURE() << "parsed: " << text;
        } catch (const ORBA::Core::ORBAJsonException& error) {
            EXPECT_EQ(error.what(), "command text is not valid JSON: " + std::string(expected));
        }
    }
}

TEST(JsonValueTest, RefusesTextsNestedDeeperThanTheLimit) {
    const auto nested = [](int levels) {
        return std::string(static_cast<std::size_t>(levels), '[') +
               std::string(static_cast<std::size_t>(levels), ']');
    };
    EXPECT_TRUE(parseCommandText(nested(ORBA::kMaxCommandDepth)).is(JsonKind::Array));
    // Far deeper than any stack could follow: refused, not crashed.
    for (const int levels : {ORBA::kMaxCommandDepth + 1, 1000000}) {
        try {
            parseCommandText(nested(levels));
            ADD_FAILURE() << "parsed " << levels << " levels";
        } catch (const ORBA::Core::ORBAJsonException& error) {
            EXPECT_STREQ(error.what(), "command text nested deeper than 128 levels");
        }
    }
}

TEST(JsonValueTest, MemberAccessAndReaders) {
    JsonValue value("text");
    EXPECT_FALSE(value.contains("k"));
    EXPECT_EQ(value.asString(), "text");
    EXPECT_EQ(value.size(), 0u);
    EXPECT_EQ(value.toJsonText(), "");
    value["k"];  // a non-object becomes an empty object, then gets a Null member
    EXPECT_TRUE(value.is(JsonKind::Object));
    EXPECT_TRUE(value.contains("k"));
    EXPECT_TRUE(value.at("k").is(JsonKind::Null));
    try {
        value.at("missing");
        ADD_FAILURE();
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "invalid map<K, T> key");
    }
    EXPECT_EQ(JsonValue(std::int64_t{5}).asDouble(), 5.0);
    EXPECT_EQ(JsonValue(2.5).asDouble(), 2.5);
    EXPECT_EQ(JsonValue(2.5).asInteger(), 0);
    EXPECT_EQ(JsonValue(std::int64_t{5}).asString(), "");
}

TEST(JsonValueTest, CopiesDeeplyAndAssignsFromItsOwnMember) {
    JsonValue original = parseCommandText(R"({"a":{"b":[1,2]}})");
    JsonValue copy = original;
    copy["a"]["b"] = JsonValue("changed");
    EXPECT_EQ(original.toJsonText(), R"({"a":{"b":[1,2]}})");
    EXPECT_EQ(copy.toJsonText(), R"({"a":{"b":"changed"}})");

    original = original.at("a");  // the source lives inside the target
    EXPECT_EQ(original.toJsonText(), R"({"b":[1,2]})");
    JsonValue moved = std::move(original);
    EXPECT_TRUE(original.is(JsonKind::Null));
    EXPECT_EQ(moved.size(), 1u);
}

// Texts are kept in the value up to a length and in a block beyond it; empty containers hold no
// block until their first member or element.
TEST(JsonValueTest, TextsOfEveryLengthAndEmptyContainersBehaveAlike) {
    for (std::size_t length = 0; length <= 20; ++length) {
        std::string text(length, 'x');
        if (length > 2) text[1] = '\0';
        const JsonValue original(text);
        JsonValue copy = original;
        JsonValue moved = std::move(copy);
        EXPECT_TRUE(copy.is(JsonKind::Null));
        copy = moved;  // back from Null
        moved = JsonValue("replaced by a text longer than the value");
        moved = copy;
        for (const JsonValue* value : std::vector<const JsonValue*>{&original, &copy, &moved}) {
            EXPECT_EQ(value->asString(), text) << length;
            EXPECT_EQ(value->toJson(), nlohmann::json(text)) << length;
        }
        EXPECT_EQ(JsonValue::intoJsonText(std::move(moved)), nlohmann::json(text).dump()) << length;
    }

    const JsonValue parsed = parseCommandText(R"({"o":{},"a":[],"n":[{},[[]]]})");
    for (const JsonValue& empty :
         {JsonValue::makeObject(), JsonValue::makeArray(), parsed.at("o"), parsed.at("a")}) {
        JsonValue copy = empty;
        EXPECT_EQ(copy.kind(), empty.kind());
        EXPECT_EQ(copy.size(), 0u);
        EXPECT_FALSE(copy.contains(""));
        EXPECT_THROW(copy.at(""), std::out_of_range);
        EXPECT_EQ(copy.toJson(),
                  empty.is(JsonKind::Object) ? nlohmann::json::object() : nlohmann::json::array());
        EXPECT_EQ(JsonValue::intoJsonText(JsonValue(empty)), copy.toJson().dump());
        if (copy.is(JsonKind::Object)) {
            copy["k"] = JsonValue("v");
            EXPECT_EQ(copy.toJsonText(), R"({"k":"v"})");
        } else {
            copy.pushBack(JsonValue(true));
            EXPECT_EQ(copy.toJsonText(), "[true]");
        }
        EXPECT_EQ(empty.size(), 0u);
    }
    EXPECT_EQ(JsonValue::fromJson(parsed.toJson()).toJsonText(),
              R"({"a":[],"n":[{},[[]]],"o":{}})");
}

TEST(JsonValueTest, SerialisesCompactlyInByteOrderAndStrictOnUtf8) {
    const JsonValue value = parseCommandText(R"({"b":1,"a":"\u00e9","B":[true,null,1.5]})");
    EXPECT_EQ(value.toJsonText(), "{\"B\":[true,null,1.5],\"a\":\"\xC3\xA9\",\"b\":1}");
    JsonValue bad = JsonValue::makeObject();
    bad["k"] = JsonValue("\xFF");
    EXPECT_THROW(bad.toJsonText(), nlohmann::json::type_error);
}

// Core::Json writes texts itself and leaves only failing ones to the library: at each edge of
// well-formed UTF-8 it must agree with the library on what fails.
TEST(JsonValueTest, WriterTellsUtf8ApartAsTheLibraryDoes) {
    for (const char* text :
         {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
          "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
          // ill-formed: stray, overlong, surrogate, above U+10FFFF, cut short, not a lead byte
          "\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
          "\xF4\x90\x80\x80", "\xE6\x97", "a\xC3", "\xC3(", "\xF5\x80\x80\x80", "\xFF"}) {
        const nlohmann::json value = std::string(text);
        std::string expected;
        try {
            expected = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        } catch (const nlohmann::json::type_error& error) {
            expected = error.what();
        }
        std::string written;
        try {
            written = ORBA::Core::Json::write(value);
        } catch (const nlohmann::json::type_error& error) {
            written = error.what();
        }
        EXPECT_EQ(written, expected);
    }
}

// A large text (read with its containers counted first) with keys out of order and given twice.
std::string largeUnorderedText() {
    std::string text = "{";
    for (int i = 3000; i > 0; --i) {
        text += "\"k" + std::to_string(i % 1000) + "\":[" + std::to_string(i) +
                ",{\"z\":" + std::to_string(-i) + ",\"a\":[" +
                std::string(static_cast<std::size_t>(i % 7), '1') + "]},\"s" + std::to_string(i) +
                "\"],";
    }
    text.back() = '}';
    return text;
}

TEST(JsonValueTest, IntoJsonTextWritesWhatTheLibraryWrites) {
    std::vector<JsonValue> shapes;
    for (
        const std::string& text : std::vector<std::string>{
            R"([0.1,1e300,-0.0,0.0,5e-324,1.7976931348623157e308,123456789.125,1e21,1e-7,3.0,-2.5e10])",
            R"([9223372036854775807,-9223372036854775808,18446744073709551615,0,-1])",
            R"({"q":"\"\\\/\b\f\n\r\t","c":"\u0001\u001f\u007f\u0000","u":"\u00e9\u65e5\ud83d\ude00"})",
            "{\"k\xC3\xA9y\\n\":[\"\xC3\xA9\",\"\xE6\x97\xA5\xE6\x9C\xAC\"],\"\":\"\","
            "\"\xF0\x9F\x98\x80\":{}}",
            R"({"b":{"a":[{"z":[[],{}],"y":null,"x":true,"w":false}],"A":{"":""}},"a":[[1,[2,[3]]]]})",
            R"({"dup":1,"b":0,"dup":[2],"a":0,"dup":"last"})", largeUnorderedText()}) {
        shapes.push_back(parseCommandText(text));
    }
    EXPECT_EQ(shapes.back().toJson(), nlohmann::json::parse(largeUnorderedText()));
    shapes.emplace_back(std::nan(""));
    shapes.emplace_back(-std::numeric_limits<double>::infinity());
    shapes.emplace_back(std::int64_t{-7});
    shapes.emplace_back("text");
    shapes.emplace_back();
    for (const JsonValue& shape : shapes) {
        const std::string expected =
            shape.toJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        EXPECT_EQ(JsonValue::intoJsonText(JsonValue(shape)), expected);
        EXPECT_EQ(ORBA::Core::Json::write(shape.toJson()), expected);
    }
    const nlohmann::json unsignedMax = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(ORBA::Core::Json::write(unsignedMax), unsignedMax.dump());

    // Text that is not UTF-8, as a value or as a key, fails with the library's own error.
    for (const bool asKey : {false, true}) {
        JsonValue bad = parseCommandText(R"({"a":[1,"ok"],"c":2})");
        if (asKey) {
            bad["b\xC3("] = JsonValue(std::int64_t{1});
        } else {
            bad["b"] = JsonValue("x\xC3(");
        }
        std::string expected;
        try {
            bad.toJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        } catch (const nlohmann::json::type_error& error) {
            expected = error.what();
        }
        try {
            ORBA::Core::Json::write(bad.toJson());
            ADD_FAILURE() << "no error";
        } catch (const nlohmann::json::type_error& error) {
            EXPECT_EQ(error.what(), expected);
        }
        try {
            JsonValue::intoJsonText(std::move(bad));
            ADD_FAILURE() << "no error";
        } catch (const nlohmann::json::type_error& error) {
            EXPECT_EQ(error.what(), expected);
        }
    }
}

}  // namespace
