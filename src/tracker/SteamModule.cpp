#include "orba/Logger.h"
#include "tracker/SteamModule.h"

#include <string>
#include <utility>

#include "tracker/SteamApi.h"

namespace ORBA {
namespace {

// Asked afresh for every record. Only called once the Steam API started: without it there is no
// build id to report as the app version, and no Steam ID.
void addSteamIdentity(EventRecord& record) {
    const SteamApi& api = SteamApi::instance();
    record.appVersion = std::to_string(api.appBuildId());
    record.deviceIds.push_back({"steamid", std::to_string(api.steamId())});
}

const ReporterPolicy kSteamPolicy = {&kSteamFlavor, false, addSteamIdentity};

}  // namespace

OndrixSteamModuleImpl::OndrixSteamModuleImpl(std::shared_ptr<const TrackerServices> services)
    : ReportingModule(kSteamPolicy, std::move(services)) {
    SteamApi::instance().runCallbacks();
}

bool OndrixSteamModuleImpl::init(const TrackerConfig& config) {
    SteamApi& api = SteamApi::instance();
    // The running game's Steam app id wins; without the Steam API the configured one stands in.
    const bool steamApiStarted = api.init();
    std::string steamAppId = steamApiStarted ? std::to_string(api.appId()) : config.steamAppId;
    if (steamAppId.empty()) {
        Core::Logger::Log("InitTracker: no Steam app id (Steam is not running and \"config\" has no "
                          "\"steamAppId\"); nothing is reported until an InitTracker names one, or "
                          "\"isSteam\": false for the plain PC module");
        return false;
    }
    // The configured app version is not reported: the build id stands in for it.
    mutableReporter().configure(config.devKey, std::move(steamAppId), std::string(),
                                steamApiStarted, endpointFrom(config));
    return true;
}

}  // namespace ORBA
