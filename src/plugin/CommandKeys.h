// Command names and body keys, compared byte for byte.
#pragma once

#include <string>

namespace ORBA {
namespace Keys {

inline const std::string kEvent = "event";
inline const std::string kBody = "body";

inline const std::string kInitTracker = "InitTracker";
inline const std::string kSetEnable = "SetEnable";
inline const std::string kSetCommonContext = "SetCommonContext";
inline const std::string kSendEvent = "SendEvent";
inline const std::string kSendRevenueEvent = "SendRevenueEvent";
inline const std::string kSuccessSignIn = "SuccessSignIn";
inline const std::string kSuccessSignOut = "SuccessSignOut";
inline const std::string kPlayerChange = "PlayerChange";
inline const std::string kFlushTracker = "FlushTracker";

inline const std::string kEnable = "enable";
inline const std::string kTimeoutMs = "timeoutMs";
inline const std::string kIsSteam = "isSteam";

inline const std::string kConfig = "config";
inline const std::string kKey = "key";
inline const std::string kDevKey = "devKey";
inline const std::string kAppId = "appId";
inline const std::string kAppVersion = "appVersion";
inline const std::string kSteamAppId = "steamAppId";
inline const std::string kEndpoint = "endpoint";
inline const std::string kCaFile = "caFile";
inline const std::string kDelivery = "delivery";
inline const std::string kOutboxMaxBytes = "outboxMaxBytes";

inline const std::string kDid = "did";
inline const std::string kAnalyticsId = "analyticsId";
inline const std::string kServerId = "serverId";
inline const std::string kOrbaCountry = "orbaCountry";

inline const std::string kData = "data";
inline const std::string kAccountId = "accountId";

inline const std::string kEventName = "eventName";
inline const std::string kCustomAttributes = "customAttributes";

inline const std::string kItemCount = "itemCount";
inline const std::string kPid = "pid";
inline const std::string kItemDescription = "itemDescription";
inline const std::string kTitle = "title";
inline const std::string kCurrency = "currency";
inline const std::string kRefId = "refId";
inline const std::string kRevenue = "revenue";

}  // namespace Keys
}  // namespace ORBA
