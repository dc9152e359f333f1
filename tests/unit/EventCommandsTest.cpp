#include <gtest/gtest.h>

#include "orba/Plugin.h"
#include "plugin/EventCommands.h"
#include "support/RecordingModule.h"

namespace {

void run(const std::string& text) { TriggerOrbaThirdPartyTrackerEventCallbackFunc(text.c_str()); }

const char kEmptyContext[] =
    R"("analyticsId":"","appId":"","did":"","orbaCountry":"","serverId":"")";

class EventCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { run(R"({"event":"InitTracker","body":{"isSteam":false}})"); }

    // The purchase parameters sent for one SendRevenueEvent "data" text.
    std::string purchaseFor(const std::string& data) {
        log.events.clear();
        run(R"({"event":"SendRevenueEvent","body":{"data":)" + data + "}}");
        if (log.events.size() != 1) return "<no event>";
        EXPECT_EQ(log.events[0].eventName, "zq_purchase");
        return log.events[0].eventParameters.dump();
    }

    OrbaTest::PluginStateGuard guard;
    OrbaTest::CallLog& log = *guard.log;
};

TEST_F(EventCommandsTest, SendEventCarriesContextAndStructuredAttributes) {
    run(R"({"event":"SetCommonContext","body":{"did":"d","orbaCountry":"KR"}})");
    run(R"({"event":"SendEvent","body":{"eventName":"level_up","eventParameters":{"x":1},
            "customAttributes":{"level":3,"hero":"mage","ratio":1.0,"tags":["a"]}}})");
    ASSERT_EQ(log.events.size(), 1u);
    EXPECT_EQ(log.events[0].eventName, "level_up");
    EXPECT_EQ(log.events[0].eventParameters.dump(), "{}");
    EXPECT_EQ(log.events[0].customParameters.dump(),
              R"({"analyticsId":"","appId":"","customAttributes":{"hero":"mage","level":3,"ratio":1.0,"tags":["a"]},)"
              R"("did":"d","orbaCountry":"KR","serverId":""})");
    EXPECT_TRUE(log.events[0].customParameters["customAttributes"]["level"].is_number_integer());
}

TEST_F(EventCommandsTest, OnlyNonEmptyObjectsOrArraysBecomeAttributes) {
    for (const char* attributes : {R"("{\"a\":1}")", "5", "true", "null", "{}", "[]"}) {
        run(std::string(R"({"event":"SendEvent","body":{"eventName":"e","customAttributes":)") +
            attributes + "}}");
    }
    run(R"({"event":"SendEvent","body":{"eventName":"e","customAttributes":[0]}})");
    ASSERT_EQ(log.events.size(), 7u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(log.events[i].customParameters.dump(), std::string("{") + kEmptyContext + "}");
    }
    EXPECT_EQ(log.events[6].customParameters["customAttributes"].dump(), "[0]");
}

TEST_F(EventCommandsTest, SendEventNeedsANonEmptyStringName) {
    run(R"({"event":"SendEvent","body":{"eventName":""}})");
    run(R"({"event":"SendEvent","body":{"eventName":5}})");
    run(R"({"event":"SendEvent","body":{}})");
    run(R"({"event":"SendEvent"})");
    EXPECT_TRUE(log.events.empty());
}

TEST_F(EventCommandsTest, AttributesThatAreNotUtf8FailTheCommand) {
    ORBA::JsonValue body = ORBA::JsonValue::makeObject();
    body["eventName"] = ORBA::JsonValue("e");
    body["customAttributes"]["k"] = ORBA::JsonValue("\xFF");
    EXPECT_THROW(ORBA::runSendEvent(body), nlohmann::json::type_error);
    EXPECT_TRUE(log.events.empty());
}

TEST_F(EventCommandsTest, PurchaseParametersKeepTheHostsNumbers) {
    EXPECT_EQ(purchaseFor(R"({"revenue":4.99,"currency":"USD","itemCount":2,"itemDescription":"gems",
                             "refId":"r-1","pid":"p-1","title":"bundle","ignored":1})"),
              R"({"custsom_product_id":"p-1","zq_content":"gems","zq_content_type":"bundle",)"
              R"("zq_currency":"USD","zq_quantity":2,"zq_receipt_id":"r-1","zq_revenue":4.99})");
    EXPECT_EQ(purchaseFor(R"({"revenue":1000.5})"),
              R"({"custsom_product_id":"","zq_content":"","zq_content_type":"","zq_currency":"",)"
              R"("zq_quantity":0,"zq_receipt_id":"","zq_revenue":1000.5})");
    EXPECT_EQ(log.events[0].customParameters.dump(), std::string("{") + kEmptyContext + "}");
}

TEST_F(EventCommandsTest, IntegerRevenueAndIntegralFloatCountAreUsed) {
    const nlohmann::json five = nlohmann::json::parse(purchaseFor(R"({"revenue":5,"itemCount":3.0})"));
    EXPECT_TRUE(five["zq_revenue"].is_number_float());
    EXPECT_EQ(five["zq_revenue"].get<double>(), 5.0);
    EXPECT_EQ(five["zq_quantity"].get<std::int64_t>(), 3);

    const nlohmann::json wide = nlohmann::json::parse(purchaseFor(R"({"itemCount":4294967297})"));
    EXPECT_EQ(wide["zq_quantity"].get<std::int64_t>(), 4294967297);

    const nlohmann::json fractional = nlohmann::json::parse(purchaseFor(R"({"itemCount":2.5,"revenue":"9"})"));
    EXPECT_EQ(fractional["zq_quantity"].get<std::int64_t>(), 0);
    EXPECT_EQ(fractional["zq_revenue"].get<double>(), 0.0);

    const nlohmann::json huge = nlohmann::json::parse(purchaseFor(R"({"itemCount":1e300})"));
    EXPECT_EQ(huge["zq_quantity"].get<std::int64_t>(), 0);
}

TEST_F(EventCommandsTest, PurchaseDefaultsAndMissingData) {
    const std::string defaults =
        R"({"custsom_product_id":"","zq_content":"","zq_content_type":"","zq_currency":"",)"
        R"("zq_quantity":0,"zq_receipt_id":"","zq_revenue":0.0})";
    EXPECT_EQ(purchaseFor("{}"), defaults);
    EXPECT_EQ(purchaseFor(R"("not an object")"), defaults);
    log.events.clear();
    run(R"({"event":"SendRevenueEvent","body":{}})");
    run(R"({"event":"SendRevenueEvent"})");
    EXPECT_TRUE(log.events.empty());
}

}  // namespace
