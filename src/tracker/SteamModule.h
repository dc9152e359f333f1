// The reporting module of Steam builds: reports under the Steam application id.
#pragma once

#include <memory>

#include "tracker/ReportingModule.h"

namespace ORBA {

// Gives the Steam library a chance to dispatch its callbacks when made, loading it on first use.
// While the Steam API runs, records carry the build id as app version and the player's Steam ID;
// an account change reports no launch.
class OndrixSteamModuleImpl : public ReportingModule {
public:
    explicit OndrixSteamModuleImpl(std::shared_ptr<const TrackerServices> services);

    // The Steam application id comes from the Steam API when it starts, else from the
    // configured "steamAppId"; init fails when neither gives one.
    bool init(const TrackerConfig& config) override;
};

}  // namespace ORBA
