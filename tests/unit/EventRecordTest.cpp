#include "tracker/EventRecord.h"

#include <gtest/gtest.h>

using ORBA::buildEventBody;
using ORBA::EventRecord;

namespace {

EventRecord sampleRecord() {
    EventRecord record;
    record.deviceOsVersion = "10.0.19045.3803";
    record.deviceModel = "Windows_32-bit";
    record.appVersion = "1.0.2";
    record.deviceIds = {{"custom", "3f2b8c1e-6d7a-4e55-9a10-2b3c4d5e6f70"}};
    record.requestId = "9e8d7c6b-5a49-4837-a625-1403f2e1d0c9";
    record.limitAdTracking = "false";
    return record;
}

const std::string kHead =
    R"({"device_ids":[{"type":"custom","value":"3f2b8c1e-6d7a-4e55-9a10-2b3c4d5e6f70"}],)"
    R"("request_id":"9e8d7c6b-5a49-4837-a625-1403f2e1d0c9","device_os_version":"10.0.19045.3803",)"
    R"("device_model":"Windows_32-bit","limit_ad_tracking":false,"app_version":"1.0.2")";

TEST(EventRecordTest, LaunchBodiesWithAndWithoutCustomerUserId) {
    EventRecord record = sampleRecord();
    EXPECT_EQ(buildEventBody(record, false, false), kHead + "}");
    record.customerUserId = "player-42";
    EXPECT_EQ(buildEventBody(record, false, false), kHead + R"(,"customer_user_id":"player-42"})");
    record.appVersion.clear();
    record.customerUserId.clear();
    EXPECT_NE(buildEventBody(record, false, false).find(R"("app_version":""})"), std::string::npos);
}

TEST(EventRecordTest, InAppBodiesPutParametersBeforeNameAndCustomerLast) {
    EventRecord record = sampleRecord();
    record.eventName = "zq_purchase";
    record.eventParameters = {{"zq_revenue", 4.99}, {"nested", {{"a", {1, 2}}}}};
    record.eventCustomParameters = {{"did", "d"}};
    record.customerUserId = "p";
    EXPECT_EQ(buildEventBody(record, true, false),
              kHead + R"(,"event_parameters":{"nested":{"a":[1,2]},"zq_revenue":4.99},)"
                      R"("event_name":"zq_purchase","event_custom_parameters":{"did":"d"},)"
                      R"("customer_user_id":"p"})");

    record.customerUserId.clear();
    record.eventCustomParameters = nullptr;
    record.eventParameters = nullptr;
    EXPECT_EQ(buildEventBody(record, true, false),
              kHead + R"(,"event_parameters":null,"event_name":"zq_purchase"})");
    record.eventCustomParameters = nlohmann::json::object();
    EXPECT_EQ(buildEventBody(record, true, false),
              kHead + R"(,"event_parameters":null,"event_name":"zq_purchase","event_custom_parameters":{}})");
}

TEST(EventRecordTest, AttributesTextTakesItsPlaceAmongTheCustomParameters) {
    EventRecord record = sampleRecord();
    record.eventName = "e";
    record.eventParameters = nlohmann::json::object();
    const std::string attributes = R"({"hero":"mage","tags":[1,2.5]})";
    const auto customParametersOf = [&record] {
        const std::string body = buildEventBody(record, true, false);
        const std::string key = R"("event_custom_parameters":)";
        return body.substr(body.find(key) + key.size());
    };
    for (const nlohmann::json& context :
         {nlohmann::json{{"analyticsId", "an"}, {"appId", "ap"}, {"did", "d"}, {"serverId", "s"}},
          nlohmann::json{{"zz", 1}}, nlohmann::json{{"a", 1}}, nlohmann::json::object()}) {
        nlohmann::json whole = context;
        whole["customAttributes"] = nlohmann::json::parse(attributes);
        record.eventCustomParameters = context;
        record.customAttributesJson = attributes;
        EXPECT_EQ(customParametersOf(), whole.dump() + "}");
    }
}

TEST(EventRecordTest, SecondDeviceIdFollowsTheFirst) {
    EventRecord record = sampleRecord();
    record.deviceIds.push_back({"steamid", "76561197960287930"});
    const std::string body = buildEventBody(record, false, true);
    const std::string head =
        R"({"device_ids":[{"type":"custom","value":"3f2b8c1e-6d7a-4e55-9a10-2b3c4d5e6f70"},)"
        R"({"type":"steamid","value":"76561197960287930"}],"request_id":)";
    EXPECT_EQ(body.substr(0, head.size()), head);
    EXPECT_THROW(buildEventBody(sampleRecord(), false, true), std::logic_error);
}

TEST(EventRecordTest, TextValuesCannotBreakOutOfTheirStrings) {
    EventRecord record = sampleRecord();
    record.appVersion = "1\",\"x\":\"y";
    record.customerUserId = "a\\b\n\xC3\xA9";
    record.eventName = "e\"";
    record.eventParameters = nlohmann::json::object();
    const std::string body = buildEventBody(record, true, false);
    EXPECT_NE(body.find(R"("app_version":"1\",\"x\":\"y")"), std::string::npos);
    EXPECT_NE(body.find("\"customer_user_id\":\"a\\\\b\\n\xC3\xA9\"}"), std::string::npos);
    const nlohmann::json parsed = nlohmann::json::parse(body);
    EXPECT_EQ(parsed["app_version"], record.appVersion);
    EXPECT_EQ(parsed["event_name"], "e\"");
    EXPECT_EQ(parsed.size(), 9u);

    record.customerUserId = "\xFF";
    EXPECT_THROW(buildEventBody(record, true, false), nlohmann::json::type_error);
}

}  // namespace
