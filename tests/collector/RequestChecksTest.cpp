// The integration view's checks: requests written as the library writes them pass clean; each
// departure from that form, and each launch or retry out of turn, is named with its field.
#include "RequestChecks.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <functional>
#include <string>
#include <vector>

namespace {

using OrbaCollector::checkRequest;
using OrbaCollector::Finding;
using OrbaCollector::ReceivedRequest;
using OrbaCollector::RequestCheck;
using OrbaCollector::RequestHistory;
using Json = nlohmann::ordered_json;

const char kInstall[] = "3f2c1a9e-8b7d-4c6e-9f01-23456789abcd";
const char kAgent[] = "Native PC/HTTP Client 1.0 (demo-app)";

Json launchBody(const std::string& requestId = "0b9e6a52-1c3d-4e5f-8a7b-9c0d1e2f3a4b") {
    Json body;
    body["device_ids"] = Json::array({{{"type", "custom"}, {"value", kInstall}}});
    body["request_id"] = requestId;
    body["device_os_version"] = "6.1.0";
    body["device_model"] = "Linux_64-bit";
    body["limit_ad_tracking"] = false;
    body["app_version"] = "1.0.0";
    return body;
}

Json eventBody(const std::string& name, Json parameters) {
    Json body = launchBody("7d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6");
    body["event_parameters"] = std::move(parameters);
    body["event_name"] = name;
    body["event_custom_parameters"] = {{"analyticsId", "an-7"}, {"appId", "host-app"},
                                       {"customAttributes", {{"hero", "mage"}, {"level", 3}}},
                                       {"did", "device-1"}, {"orbaCountry", "KR"}, {"serverId", "s-1"}};
    body["customer_user_id"] = "player-42";
    return body;
}

Json purchaseParameters() {
    return {{"custsom_product_id", "gems_100"}, {"zq_content", "gem pack"}, {"zq_content_type", "gems"},
            {"zq_currency", "USD"}, {"zq_quantity", 1}, {"zq_receipt_id", "receipt-1"},
            {"zq_revenue", 4.99}};
}

ReceivedRequest received(const std::string& kind, const std::string& body, int status = 202) {
    return {"/v1.0/c2s/" + kind + "/app/nativepc/demo-app", kAgent, "application/json", body, true, true,
            status};
}

std::string describe(const RequestCheck& check) {
    std::string text;
    for (const Finding& f : check.findings) text += f.field + ": " + f.message + "\n";
    return text;
}

// The fields named by the findings, in order.
std::vector<std::string> fields(const RequestCheck& check) {
    std::vector<std::string> named;
    for (const Finding& f : check.findings) named.push_back(f.field);
    return named;
}

using Fields = std::vector<std::string>;

TEST(RequestChecksTest, RequestsAsTheLibraryWritesThemAreClean) {
    const RequestHistory none;
    const RequestCheck launch = checkRequest(received("first_open", launchBody().dump()), none);
    EXPECT_TRUE(launch.findings.empty()) << describe(launch);
    EXPECT_EQ(launch.kind, "first_open");
    EXPECT_EQ(launch.appId, "demo-app");
    EXPECT_EQ(launch.installId, kInstall);

    const RequestCheck event = checkRequest(received("inapp", eventBody("level_up", Json::object()).dump()), none);
    EXPECT_TRUE(event.findings.empty()) << describe(event);
    EXPECT_EQ(event.kind, "inapp");
    EXPECT_EQ(event.eventName, "level_up");

    const RequestCheck purchase = checkRequest(received("inapp", eventBody("zq_purchase", purchaseParameters()).dump()), none);
    EXPECT_TRUE(purchase.findings.empty()) << describe(purchase);
    EXPECT_EQ(purchase.kind, "purchase");

    // A Steam request: its own user agent, and the Steam ID as a second device id.
    Json steam = launchBody();
    steam["device_ids"].push_back({{"type", "steamid"}, {"value", "76561197960287930"}});
    const RequestCheck steamLaunch = checkRequest(
        {"/v1.0/c2s/session/app/steam/480", "SteamLauncher/HTTP Client 1.0 (480)", "application/json",
         steam.dump(), true, true, 202},
        none);
    EXPECT_EQ(fields(steamLaunch), Fields{"kind"}) << describe(steamLaunch);  // no first_open seen
}

TEST(RequestChecksTest, PathHeadersSignatureAndSize) {
    const RequestHistory none;
    const std::string body = launchBody().dump();
    EXPECT_EQ(fields(checkRequest({"/v1.0/c2s/open/app/nativepc/x", kAgent, "application/json", body, true, true, 404}, none)),
              Fields{"path"});
    // The app id is percent-encoded in the path and carried as given in the user agent.
    const RequestCheck encoded = checkRequest(
        {"/v1.0/c2s/first_open/app/nativepc/a%2Fb%20c", "Native PC/HTTP Client 1.0 (a/b c)",
         "application/json", body, true, true, 202},
        none);
    EXPECT_TRUE(encoded.findings.empty()) << describe(encoded);
    EXPECT_EQ(encoded.appId, "a/b c");

    ReceivedRequest wrong = received("first_open", body);
    wrong.userAgent = "Native PC/HTTP Client 1.0 (other-app)";
    wrong.contentType = "text/plain";
    wrong.signatureOk = false;
    EXPECT_EQ(fields(checkRequest(wrong, none)), (Fields{"signature", "user_agent", "content_type"}));
    wrong = received("first_open", body);
    wrong.signaturePresent = wrong.signatureOk = false;
    const RequestCheck unsigned_ = checkRequest(wrong, none);
    ASSERT_EQ(fields(unsigned_), Fields{"signature"});
    EXPECT_EQ(unsigned_.findings[0].message, "no Authorization header");

    Json large = eventBody("big", Json::object());
    large["event_custom_parameters"]["customAttributes"] = {{"blob", std::string(OrbaCollector::kLargeBodyBytes, 'x')}};
    const RequestCheck big = checkRequest(received("inapp", large.dump()), none);
    ASSERT_EQ(fields(big), Fields{"body"});
    EXPECT_EQ(big.findings[0].level, Finding::Level::Warning);

    EXPECT_EQ(fields(checkRequest(received("inapp", ""), none)), Fields{"body"});
    EXPECT_EQ(fields(checkRequest(received("inapp", "{\"device_ids\":"), none)), Fields{"body"});
    EXPECT_EQ(fields(checkRequest(received("inapp", "[1]"), none)), Fields{"body"});
    EXPECT_EQ(fields(checkRequest(received("inapp", "{\"a\":\"\xff\"}"), none)), Fields{"body"});
}

TEST(RequestChecksTest, KeysMustBeTheKindsOwnInTheirOrderOnceEach) {
    const RequestHistory none;
    // An event's members on a launch, a launch without its request id.
    Json launch = launchBody();
    launch.erase("request_id");
    launch["event_name"] = "x";
    EXPECT_EQ(fields(checkRequest(received("first_open", launch.dump()), none)), (Fields{"event_name", "request_id"}));
    // app_version written before device_model.
    Json swapped;
    for (const char* key : {"device_ids", "request_id", "device_os_version", "app_version", "device_model",
                            "limit_ad_tracking"}) {
        swapped[key] = launchBody()[key];
    }
    const RequestCheck outOfOrder = checkRequest(received("session", swapped.dump()), none);
    EXPECT_EQ(fields(outOfOrder), (Fields{"device_model", "limit_ad_tracking", "kind"})) << describe(outOfOrder);
    // A key written twice, which a parsed object would hide.
    std::string twice = launchBody().dump();
    twice.insert(twice.size() - 1, ",\"app_version\":\"2\"");
    EXPECT_EQ(fields(checkRequest(received("first_open", twice), none)), Fields{"app_version"});
    // An event without its custom parameters.
    Json event = eventBody("e", Json::object());
    event.erase("event_custom_parameters");
    EXPECT_EQ(fields(checkRequest(received("inapp", event.dump()), none)), Fields{"event_custom_parameters"});
}

TEST(RequestChecksTest, TypesAndForms) {
    const RequestHistory none;
    Json body = eventBody("", Json::array());
    body["device_ids"][0]["value"] = "not-a-uuid";
    body["request_id"] = "0B9E6A52-1C3D-4E5F-8A7B";
    body["limit_ad_tracking"] = "false";
    body["device_model"] = 64;
    body["customer_user_id"] = "";
    body["event_custom_parameters"].erase("serverId");
    body["event_custom_parameters"]["did"] = 1;
    EXPECT_EQ(fields(checkRequest(received("inapp", body.dump()), none)),
              (Fields{"device_ids[0].value", "request_id", "device_model", "limit_ad_tracking", "customer_user_id",
                      "event_name", "event_parameters", "event_custom_parameters.did",
                      "event_custom_parameters.serverId"}));

    Json ids = launchBody();
    ids["device_ids"].push_back({{"type", "steamid"}, {"value", "1"}});  // a Steam ID off the Steam path
    EXPECT_EQ(fields(checkRequest(received("first_open", ids.dump()), none)), Fields{"device_ids"});
    ids["device_ids"] = Json::array({{{"value", kInstall}, {"type", "custom"}}});
    EXPECT_EQ(fields(checkRequest(received("first_open", ids.dump()), none)), Fields{"device_ids[0]"});
    ids["device_ids"] = Json::array({{{"type", "idfa"}, {"value", kInstall}}});
    EXPECT_EQ(fields(checkRequest(received("first_open", ids.dump()), none)), Fields{"device_ids[0].type"});
    ids["device_ids"] = "x";
    EXPECT_EQ(fields(checkRequest(received("first_open", ids.dump()), none)), Fields{"device_ids"});
    Json steam = launchBody();
    steam["device_ids"].push_back({{"type", "steamid"}, {"value", "7656x"}});
    EXPECT_EQ(fields(checkRequest({"/v1.0/c2s/first_open/app/steam/480", "SteamLauncher/HTTP Client 1.0 (480)",
                                   "application/json", steam.dump(), true, true, 202},
                                  none)),
              Fields{"device_ids[1].value"});
}

TEST(RequestChecksTest, PurchaseParameters) {
    const RequestHistory none;
    const auto purchaseWith = [&](const std::function<void(Json&)>& change) {
        Json parameters = purchaseParameters();
        change(parameters);
        return fields(checkRequest(received("inapp", eventBody("zq_purchase", parameters).dump()), none));
    };
    EXPECT_EQ(purchaseWith([](Json& p) { p.erase("zq_currency"); }), Fields{"event_parameters.zq_currency"});
    EXPECT_EQ(purchaseWith([](Json& p) { p["zq_currency"] = "usd"; }), Fields{"event_parameters.zq_currency"});
    EXPECT_EQ(purchaseWith([](Json& p) { p["zq_currency"] = "USDT"; }), Fields{"event_parameters.zq_currency"});
    EXPECT_EQ(purchaseWith([](Json& p) { p["zq_revenue"] = "4.99"; }), Fields{"event_parameters.zq_revenue"});
    EXPECT_EQ(purchaseWith([](Json& p) { p["zq_revenue"] = 5; }), Fields{});
    EXPECT_EQ(purchaseWith([](Json& p) { p["zq_quantity"] = 2.0; }), Fields{"event_parameters.zq_quantity"});
    EXPECT_EQ(purchaseWith([](Json& p) { p["zq_receipt_id"] = 7; }), Fields{"event_parameters.zq_receipt_id"});
    EXPECT_EQ(purchaseWith([](Json& p) { p["zq_price"] = 1; }), Fields{"event_parameters.zq_price"});
    EXPECT_EQ(purchaseWith([](Json& p) {
                  const Json revenue = p["zq_revenue"];
                  p.erase("zq_revenue");
                  p.erase("zq_content");
                  p["zq_content"] = "late";
                  p["zq_revenue"] = revenue;
              }),
              Fields{"event_parameters.zq_content"});
}

// What the history holds across requests, as the collector feeds it.
struct Arrivals {
    RequestHistory history;
    std::uint64_t next = 0;
    RequestCheck post(const ReceivedRequest& request) {
        RequestCheck check = checkRequest(request, history);
        history.add(++next, request, check);
        return check;
    }
};

TEST(RequestChecksTest, RetriesAreGroupedAndConflictsFlagged) {
    Arrivals run;
    const std::string event = eventBody("level_up", Json::object()).dump();
    EXPECT_FALSE(run.post(received("inapp", event, 503)).retryOf);
    const RequestCheck retry = run.post(received("inapp", event, 202));
    EXPECT_EQ(retry.retryOf, 1u);
    EXPECT_TRUE(retry.findings.empty()) << describe(retry);
    // Sent again once delivered.
    const RequestCheck again = run.post(received("inapp", event, 202));
    EXPECT_EQ(again.retryOf, 1u);
    ASSERT_EQ(fields(again), Fields{"request_id"});
    EXPECT_EQ(again.findings[0].level, Finding::Level::Warning);
    // The same request id on other bytes.
    Json other = eventBody("level_down", Json::object());
    const RequestCheck conflict = run.post(received("inapp", other.dump(), 202));
    EXPECT_FALSE(conflict.retryOf);
    ASSERT_EQ(fields(conflict), Fields{"request_id"});
    EXPECT_EQ(conflict.findings[0].level, Finding::Level::Error);
    EXPECT_NE(conflict.findings[0].message.find("#1"), std::string::npos);
}

TEST(RequestChecksTest, LaunchesFollowTheLaunchRule) {
    Arrivals run;
    // Two first_opens while fewer than two launches were accepted; one refused does not count.
    EXPECT_TRUE(run.post(received("first_open", launchBody("00000000-0000-4000-8000-000000000001").dump())).findings.empty());
    EXPECT_TRUE(run.post(received("first_open", launchBody("00000000-0000-4000-8000-000000000002").dump(), 500)).findings.empty());
    // A retry that is accepted counts once, however often it is sent.
    const std::string second = launchBody("00000000-0000-4000-8000-000000000003").dump();
    EXPECT_TRUE(run.post(received("first_open", second, 503)).findings.empty());
    EXPECT_TRUE(run.post(received("first_open", second, 202)).findings.empty());
    EXPECT_TRUE(run.post(received("session", launchBody("00000000-0000-4000-8000-000000000004").dump())).findings.empty());
    const RequestCheck third = run.post(received("first_open", launchBody("00000000-0000-4000-8000-000000000005").dump()));
    ASSERT_EQ(fields(third), Fields{"kind"});
    EXPECT_EQ(third.findings[0].level, Finding::Level::Error);

    // Another install: a session with one accepted launch only, or none seen at all.
    Arrivals early;
    Json other = launchBody("00000000-0000-4000-8000-000000000006");
    EXPECT_EQ(fields(early.post(received("session", other.dump()))), Fields{"kind"});
    other["device_ids"][0]["value"] = "11111111-2222-4333-8444-555555555555";
    other["request_id"] = "00000000-0000-4000-8000-000000000008";
    EXPECT_TRUE(early.post(received("first_open", other.dump())).findings.empty());
    other["request_id"] = "00000000-0000-4000-8000-000000000007";
    const RequestCheck tooSoon = early.post(received("session", other.dump()));
    ASSERT_EQ(fields(tooSoon), Fields{"kind"});
    EXPECT_EQ(tooSoon.findings[0].level, Finding::Level::Warning);
}

}  // namespace
