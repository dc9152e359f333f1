#include "RequestChecks.h"

#include <array>
#include <nlohmann/json.hpp>
#include <regex>

namespace OrbaCollector {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kPurchaseName = "zq_purchase";

// The body's members in the order the library writes them; the optional ones may be left out.
struct Member {
    const char* name;
    bool optional;
};
constexpr std::array<Member, 7> kLaunchMembers = {{{"device_ids", false},
                                                   {"request_id", false},
                                                   {"device_os_version", false},
                                                   {"device_model", false},
                                                   {"limit_ad_tracking", false},
                                                   {"app_version", false},
                                                   {"customer_user_id", true}}};
constexpr std::array<Member, 10> kInAppMembers = {{{"device_ids", false},
                                                   {"request_id", false},
                                                   {"device_os_version", false},
                                                   {"device_model", false},
                                                   {"limit_ad_tracking", false},
                                                   {"app_version", false},
                                                   {"event_parameters", false},
                                                   {"event_name", false},
                                                   {"event_custom_parameters", false},
                                                   {"customer_user_id", true}}};
// A purchase's seven parameters, all always sent, in the order of their names.
constexpr std::array<const char*, 7> kPurchaseParameters = {
    "custsom_product_id", "zq_content", "zq_content_type", "zq_currency",
    "zq_quantity",        "zq_receipt_id", "zq_revenue"};
constexpr std::array<const char*, 5> kContextValues = {"analyticsId", "appId", "did",
                                                       "orbaCountry", "serverId"};

class Findings {
public:
    explicit Findings(std::vector<Finding>& out) : out_(out) {}
    void error(std::string field, std::string message) {
        out_.push_back({Finding::Level::Error, std::move(field), std::move(message)});
    }
    void warning(std::string field, std::string message) {
        out_.push_back({Finding::Level::Warning, std::move(field), std::move(message)});
    }

private:
    std::vector<Finding>& out_;
};

bool isUuid(const std::string& text) {
    static const std::regex kForm("[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
    return std::regex_match(text, kForm);
}

bool isDecimal(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The path segment's text: the library percent-encodes all but the unreserved characters.
std::string percentDecoded(const std::string& segment) {
    std::string text;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && i + 2 < segment.size() && hexValue(segment[i + 1]) >= 0 && hexValue(segment[i + 2]) >= 0) {
            text += static_cast<char>(hexValue(segment[i + 1]) * 16 + hexValue(segment[i + 2]));
            i += 2;
        } else {
            text += segment[i];
        }
    }
    return text;
}

const char* typeName(const Json& value) {
    if (value.is_number_integer()) return "an integer";
    if (value.is_number_float()) return "a fraction";
    if (value.is_string()) return "a string";
    if (value.is_boolean()) return "a boolean";
    if (value.is_null()) return "null";
    if (value.is_array()) return "an array";
    return "an object";
}

void expectString(Findings& findings, const Json& body, const char* key) {
    if (body.contains(key) && !body[key].is_string()) {
        findings.error(key, std::string("must be a string, not ") + typeName(body[key]));
    }
}

// Top-level keys in the order written, repeats included (a parsed object keeps one of each).
std::vector<std::string> topLevelKeys(const std::string& body, Json& parsed) {
    std::vector<std::string> keys;
    const Json::parser_callback_t collect = [&keys](int depth, Json::parse_event_t event, Json& value) {
        if (event == Json::parse_event_t::key && depth == 1) keys.push_back(value.get<std::string>());
        return true;
    };
    parsed = Json::parse(body, collect);
    return keys;
}

template <std::size_t N>
void checkMembers(Findings& findings, const std::vector<std::string>& keys,
                  const std::array<Member, N>& members) {
    std::size_t next = 0;  // the first member that may still come
    std::vector<std::string> seen;
    for (const std::string& key : keys) {
        bool repeated = false;
        for (const std::string& earlier : seen) repeated = repeated || earlier == key;
        if (repeated) {
            findings.error(key, "appears twice");
            continue;
        }
        seen.push_back(key);
        std::size_t position = N;
        for (std::size_t i = 0; i < N; ++i) {
            if (key == members[i].name) position = i;
        }
        if (position == N) {
            findings.error(key, "is not a member of this kind of request");
        } else if (position < next) {
            findings.error(key, std::string("out of order: comes after ") + members[next - 1].name);
        } else {
            next = position + 1;
        }
    }
    for (const Member& member : members) {
        bool present = false;
        for (const std::string& key : seen) present = present || key == member.name;
        if (!present && !member.optional) findings.error(member.name, "missing");
    }
}

void checkDeviceIds(Findings& findings, const Json& body, const std::string& platform,
                    RequestCheck& check) {
    if (!body.contains("device_ids")) return;
    const Json& ids = body["device_ids"];
    const std::size_t most = platform == "steam" ? 2 : 1;
    if (!ids.is_array() || ids.empty() || ids.size() > most) {
        findings.error("device_ids", platform == "steam"
                                         ? "must be an array of the custom id and at most a steamid"
                                         : "must be an array of exactly the custom id");
        if (!ids.is_array() || ids.empty()) return;
    }
    const char* const kTypes[] = {"custom", "steamid"};
    for (std::size_t i = 0; i < ids.size() && i < 2; ++i) {
        const std::string field = "device_ids[" + std::to_string(i) + "]";
        const Json& id = ids[i];
        if (!id.is_object() || id.size() != 2 || id.begin().key() != "type" ||
            std::next(id.begin()).key() != "value" || !id["type"].is_string() ||
            !id["value"].is_string()) {
            findings.error(field, "must be {\"type\": string, \"value\": string}");
            continue;
        }
        const std::string type = id["type"];
        const std::string value = id["value"];
        if (type != kTypes[i]) {
            findings.error(field + ".type", std::string("must be \"") + kTypes[i] + "\", not \"" + type + "\"");
        } else if (i == 0) {
            check.installId = value;
            if (!isUuid(value)) findings.error(field + ".value", "the install id must be a UUID");
        } else if (!isDecimal(value)) {
            findings.error(field + ".value", "a Steam ID is a decimal number");
        }
    }
}

void checkPurchase(Findings& findings, const Json& parameters) {
    std::vector<std::string> keys;
    for (auto it = parameters.begin(); it != parameters.end(); ++it) keys.push_back(it.key());
    std::size_t next = 0;
    for (const std::string& key : keys) {
        std::size_t position = kPurchaseParameters.size();
        for (std::size_t i = 0; i < kPurchaseParameters.size(); ++i) {
            if (key == kPurchaseParameters[i]) position = i;
        }
        const std::string field = "event_parameters." + key;
        if (position == kPurchaseParameters.size()) {
            findings.error(field, "is not a purchase parameter");
        } else if (position < next) {
            findings.error(field, std::string("out of order: comes after ") + kPurchaseParameters[next - 1]);
        } else {
            next = position + 1;
        }
    }
    for (const char* name : kPurchaseParameters) {
        const std::string field = std::string("event_parameters.") + name;
        if (!parameters.contains(name)) {
            findings.error(field, "missing: every purchase sends all seven parameters");
            continue;
        }
        const Json& value = parameters[name];
        const std::string key = name;
        if (key == "zq_revenue") {
            if (!value.is_number()) findings.error(field, std::string("must be a number, not ") + typeName(value));
        } else if (key == "zq_quantity") {
            if (!value.is_number_integer()) {
                findings.error(field, std::string("must be an integer, not ") + typeName(value));
            }
        } else if (!value.is_string()) {
            findings.error(field, std::string("must be a string, not ") + typeName(value));
        } else if (key == "zq_currency") {
            static const std::regex kCurrency("[A-Z]{3}");
            if (!std::regex_match(value.get<std::string>(), kCurrency)) {
                findings.error(field, "must be three capital letters (ISO 4217), not \"" +
                                          value.get<std::string>() + "\"");
            }
        }
    }
}

void checkEvent(Findings& findings, const Json& body, RequestCheck& check) {
    if (body.contains("event_name")) {
        const Json& name = body["event_name"];
        if (!name.is_string()) {
            findings.error("event_name", std::string("must be a string, not ") + typeName(name));
        } else {
            check.eventName = name;
            if (check.eventName.empty()) findings.error("event_name", "must not be empty");
        }
    }
    if (check.eventName == kPurchaseName) check.kind = "purchase";
    if (body.contains("event_parameters")) {
        const Json& parameters = body["event_parameters"];
        if (!parameters.is_object()) {
            findings.error("event_parameters", std::string("must be an object, not ") + typeName(parameters));
        } else if (check.kind == "purchase") {
            checkPurchase(findings, parameters);
        }
    }
    if (body.contains("event_custom_parameters")) {
        const Json& custom = body["event_custom_parameters"];
        if (!custom.is_object()) {
            findings.error("event_custom_parameters",
                           std::string("must be an object, not ") + typeName(custom));
            return;
        }
        for (const char* name : kContextValues) {
            const std::string field = std::string("event_custom_parameters.") + name;
            if (!custom.contains(name)) {
                findings.error(field, "missing: the five context values are always sent");
            } else if (!custom[name].is_string()) {
                findings.error(field, std::string("must be a string, not ") + typeName(custom[name]));
            }
        }
        if (custom.contains("customAttributes") && !custom["customAttributes"].is_object() &&
            !custom["customAttributes"].is_array()) {
            findings.error("event_custom_parameters.customAttributes", "must be an object or an array");
        }
    }
}

void checkBody(Findings& findings, const Json& body, const std::vector<std::string>& keys,
               RequestCheck& check) {
    const bool launch = check.kind != "inapp";
    if (launch) {
        checkMembers(findings, keys, kLaunchMembers);
    } else {
        checkMembers(findings, keys, kInAppMembers);
    }
    checkDeviceIds(findings, body, check.platform, check);
    if (body.contains("request_id")) {
        if (!body["request_id"].is_string()) {
            findings.error("request_id", std::string("must be a string, not ") + typeName(body["request_id"]));
        } else {
            check.requestId = body["request_id"];
            if (!isUuid(check.requestId)) findings.error("request_id", "must be a UUID");
        }
    }
    expectString(findings, body, "device_os_version");
    expectString(findings, body, "device_model");
    expectString(findings, body, "app_version");
    if (body.contains("limit_ad_tracking") && !body["limit_ad_tracking"].is_boolean()) {
        findings.error("limit_ad_tracking",
                       std::string("must be a boolean, not ") + typeName(body["limit_ad_tracking"]));
    }
    if (body.contains("customer_user_id")) {
        const Json& user = body["customer_user_id"];
        if (!user.is_string() || user.get<std::string>().empty()) {
            findings.error("customer_user_id", "a non-empty string when present (left out when unset)");
        }
    }
    if (!launch) checkEvent(findings, body, check);
}

void checkAgainstHistory(Findings& findings, const ReceivedRequest& request,
                         const RequestHistory& history, RequestCheck& check) {
    bool repeat = false;
    if (!check.requestId.empty()) {
        if (const RequestHistory::Sent* earlier = history.sent(check.requestId)) {
            repeat = true;
            if (earlier->fingerprint == RequestHistory::fingerprint(request.body) &&
                earlier->size == request.body.size() && earlier->path == request.path) {
                check.retryOf = earlier->sequence;
                if (earlier->delivered) {
                    findings.warning("request_id", "sent again after a 2xx answer delivered it (#" +
                                                       std::to_string(earlier->sequence) + ")");
                }
            } else {
                findings.error("request_id", "conflict: #" + std::to_string(earlier->sequence) +
                                                 " had this request_id with other bytes");
            }
        }
    }
    if (repeat || check.installId.empty()) return;
    const RequestHistory::Launches* launches = history.launches(check.appId, check.installId);
    if (check.kind == "first_open" && launches != nullptr && launches->accepted >= 2) {
        findings.error("kind", "first_open after " + std::to_string(launches->accepted) +
                                   " accepted launches: the library sends session once two were accepted");
    } else if (check.kind == "session" && (launches == nullptr || launches->firstOpens == 0)) {
        findings.warning("kind", "session before any first_open of this install (it may have started "
                                 "before this collector)");
    } else if (check.kind == "session" && launches->accepted < 2) {
        findings.warning("kind", "session after " + std::to_string(launches->accepted) +
                                     " accepted launch(es) seen here: the library sends first_open "
                                     "until two were accepted");
    }
}

}  // namespace

std::uint64_t RequestHistory::fingerprint(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

void RequestHistory::add(std::uint64_t sequence, const ReceivedRequest& request,
                         const RequestCheck& check) {
    const bool delivered = request.status >= 200 && request.status < 300;
    const bool accepted = request.status == 202;
    const bool launch = check.kind == "first_open" || check.kind == "session";
    bool newRequest = true;
    bool newlyAccepted = accepted;
    if (!check.requestId.empty()) {
        auto found = sent_.find(check.requestId);
        if (found == sent_.end()) {
            sent_.emplace(check.requestId, Sent{sequence, fingerprint(request.body), request.body.size(),
                                                request.path, delivered, accepted});
        } else if (check.retryOf) {
            newRequest = false;
            newlyAccepted = accepted && !found->second.accepted;
            found->second.delivered = found->second.delivered || delivered;
            found->second.accepted = found->second.accepted || accepted;
        }
    }
    if (!launch || check.installId.empty()) return;
    Launches& counts = launches_[{check.appId, check.installId}];
    if (newRequest) ++(check.kind == "first_open" ? counts.firstOpens : counts.sessions);
    if (newlyAccepted) ++counts.accepted;
}

const RequestHistory::Launches* RequestHistory::launches(const std::string& appId,
                                                         const std::string& installId) const {
    auto found = launches_.find({appId, installId});
    return found == launches_.end() ? nullptr : &found->second;
}

const RequestHistory::Sent* RequestHistory::sent(const std::string& requestId) const {
    auto found = sent_.find(requestId);
    return found == sent_.end() ? nullptr : &found->second;
}

RequestCheck checkRequest(const ReceivedRequest& request, const RequestHistory& history) {
    RequestCheck check;
    Findings findings(check.findings);
    static const std::regex kEventPath(R"(/v1\.0/c2s/(first_open|session|inapp)/app/(nativepc|steam)/([^/]+))");
    std::smatch parts;
    if (!std::regex_match(request.path, parts, kEventPath)) {
        findings.error("path", "not an event path (/v1.0/c2s/KIND/app/PLATFORM/APP_ID)");
        return check;
    }
    check.kind = parts[1];
    check.platform = parts[2];
    check.appId = percentDecoded(parts[3]);

    if (!request.signaturePresent) {
        findings.error("signature", "no Authorization header");
    } else if (!request.signatureOk) {
        findings.error("signature", "does not match the HMAC-SHA256 of the body under the dev key");
    }
    const std::string agent = std::string(check.platform == "steam" ? "SteamLauncher" : "Native PC") +
                              "/HTTP Client 1.0 (" + check.appId + ")";
    if (request.userAgent != agent) findings.error("user_agent", "expected \"" + agent + "\"");
    if (request.contentType != "application/json") {
        findings.error("content_type", "expected \"application/json\"");
    }
    if (request.body.size() > kLargeBodyBytes) {
        findings.warning("body", std::to_string(request.body.size()) +
                                     " bytes: larger than any one command the library takes (4 MiB)");
    }

    Json body;
    std::vector<std::string> keys;
    try {
        keys = topLevelKeys(request.body, body);
    } catch (const Json::exception&) {
        findings.error("body", request.body.empty() ? "empty" : "not JSON (or not UTF-8)");
        return check;
    }
    if (!body.is_object()) {
        findings.error("body", "must be a JSON object");
        return check;
    }
    checkBody(findings, body, keys, check);
    checkAgainstHistory(findings, request, history, check);
    return check;
}

}  // namespace OrbaCollector
