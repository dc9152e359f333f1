#include "plugin/TrackerContext.h"

#include <gtest/gtest.h>

#include "plugin/JsonValue.h"

using ORBA::JsonValue;
using ORBA::OndrixContext;
using ORBA::parseCommandText;
using ORBA::readTrackerConfig;

namespace {

TEST(TrackerContextTest, ApplyReplacesAllFiveFields) {
    auto context = std::make_shared<OndrixContext>();
    ORBA::applyCommonContext(context, parseCommandText(
        R"({"did":"d","appId":"a","analyticsId":"an","serverId":"s","orbaCountry":"KR","x":1})"));
    EXPECT_EQ(context->did, "d");
    EXPECT_EQ(context->appId, "a");
    EXPECT_EQ(context->analyticsId, "an");
    EXPECT_EQ(context->serverId, "s");
    EXPECT_EQ(context->orbaCountry, "KR");

    ORBA::applyCommonContext(context, parseCommandText(R"({"did":"d2","serverId":7})"));
    EXPECT_EQ(context->did, "d2");
    EXPECT_EQ(context->appId, "");
    EXPECT_EQ(context->serverId, "");
    EXPECT_EQ(context->orbaCountry, "");

    ORBA::applyCommonContext(context, parseCommandText(R"({"did":"d3"})"));
    ORBA::applyCommonContext(context, JsonValue("not an object"));
    EXPECT_EQ(context->did, "");
}

TEST(TrackerContextTest, WriteOverwritesOnlyContextMembers) {
    auto context = std::make_shared<OndrixContext>();
    context->did = "d";
    nlohmann::json object = {{"did", 1}, {"other", true}};
    ORBA::writeContextTo(context, object);
    EXPECT_EQ(object.dump(),
              R"({"analyticsId":"","appId":"","did":"d","orbaCountry":"","other":true,"serverId":""})");
}

TEST(TrackerContextTest, ReadsCredentialsFromConfigOrTopLevel) {
    auto config = readTrackerConfig(parseCommandText(
        R"({"appId":"outer","config":{"key":"k","devKey":"dk","appId":"inner","appVersion":"1.2","steamAppId":"480"}})"));
    EXPECT_EQ(config.devKey, "k");
    EXPECT_EQ(config.appId, "inner");
    EXPECT_EQ(config.appVersion, "1.2");
    EXPECT_EQ(config.steamAppId, "480");

    config = readTrackerConfig(parseCommandText(
        R"({"config":"text","key":5,"devKey":"dk","appId":"top","appVersion":2})"));
    EXPECT_EQ(config.devKey, "dk");  // "key" is not a string, so "devKey" is used
    EXPECT_EQ(config.appId, "top");
    EXPECT_EQ(config.appVersion, "");
    EXPECT_EQ(config.steamAppId, "");

    config = readTrackerConfig(JsonValue(std::int64_t{3}));
    EXPECT_EQ(config.appId, "");
}

}  // namespace
