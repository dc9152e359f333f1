#include "plugin/JsonValue.h"

#include <stdexcept>

#include <gtest/gtest.h>

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

TEST(JsonValueTest, ParseErrorsCarryTheLibraryMessage) {
    for (const char* text : {"{", "{} x", "{/*c*/}", "", "{\"a\":\"\x80\"}"}) {
        try {
            parseCommandText(text);
            ADD_FAILURE() << "parsed: " << text;
        } catch (const ORBA::Core::ORBAJsonException& error) {
            EXPECT_NE(std::string(error.what()).find("[json.exception.parse_error."), std::string::npos)
                << error.what();
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

TEST(JsonValueTest, SerialisesCompactlyInByteOrderAndStrictOnUtf8) {
    const JsonValue value = parseCommandText(R"({"b":1,"a":"\u00e9","B":[true,null,1.5]})");
    EXPECT_EQ(value.toJsonText(), "{\"B\":[true,null,1.5],\"a\":\"\xC3\xA9\",\"b\":1}");
    JsonValue bad = JsonValue::makeObject();
    bad["k"] = JsonValue("\xFF");
    EXPECT_THROW(bad.toJsonText(), nlohmann::json::type_error);
}

}  // namespace
