// Command names and body keys, compared byte for byte. Views of literals, with nothing to destroy:
// a game's thread may still run a command while the process's exit handlers run.
#pragma once

#include <string_view>

namespace ORBA {
namespace Keys {

inline constexpr std::string_view kEvent = "event";
inline constexpr std::string_view kBody = "body";

inline constexpr std::string_view kInitTracker = "InitTracker";
inline constexpr std::string_view kSetEnable = "SetEnable";
inline constexpr std::string_view kSetCommonContext = "SetCommonContext";
inline constexpr std::string_view kSendEvent = "SendEvent";
inline constexpr std::string_view kSendRevenueEvent = "SendRevenueEvent";
inline constexpr std::string_view kSuccessSignIn = "SuccessSignIn";
inline constexpr std::string_view kSuccessSignOut = "SuccessSignOut";
inline constexpr std::string_view kPlayerChange = "PlayerChange";
inline constexpr std::string_view kFlushTracker = "FlushTracker";
inline constexpr std::string_view kSetConsent = "SetConsent";
inline constexpr std::string_view kForgetInstall = "ForgetInstall";

inline constexpr std::string_view kEnable = "enable";
inline constexpr std::string_view kTimeoutMs = "timeoutMs";
inline constexpr std::string_view kIsSteam = "isSteam";

inline constexpr std::string_view kConfig = "config";
inline constexpr std::string_view kKey = "key";
inline constexpr std::string_view kDevKey = "devKey";
inline constexpr std::string_view kAppId = "appId";
inline constexpr std::string_view kAppVersion = "appVersion";
inline constexpr std::string_view kSteamAppId = "steamAppId";
inline constexpr std::string_view kEndpoint = "endpoint";
inline constexpr std::string_view kCaFile = "caFile";
inline constexpr std::string_view kDelivery = "delivery";
inline constexpr std::string_view kOutboxMaxBytes = "outboxMaxBytes";
inline constexpr std::string_view kConsent = "consent";
inline constexpr std::string_view kGranted = "granted";

inline constexpr std::string_view kDid = "did";
inline constexpr std::string_view kAnalyticsId = "analyticsId";
inline constexpr std::string_view kServerId = "serverId";
inline constexpr std::string_view kOrbaCountry = "orbaCountry";

inline constexpr std::string_view kData = "data";
inline constexpr std::string_view kAccountId = "accountId";

inline constexpr std::string_view kEventName = "eventName";
inline constexpr std::string_view kCustomAttributes = "customAttributes";

inline constexpr std::string_view kItemCount = "itemCount";
inline constexpr std::string_view kPid = "pid";
inline constexpr std::string_view kItemDescription = "itemDescription";
inline constexpr std::string_view kTitle = "title";
inline constexpr std::string_view kCurrency = "currency";
inline constexpr std::string_view kRefId = "refId";
inline constexpr std::string_view kRevenue = "revenue";

}  // namespace Keys
}  // namespace ORBA
