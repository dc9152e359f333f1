// The reporting module of plain PC builds.
#pragma once

#include <memory>

#include "tracker/ReportingModule.h"

namespace ORBA {

// Reports under the configured app id and app version, and reports a launch on every session
// start, account changes included.
class OndrixNativeModuleImpl : public ReportingModule {
public:
    explicit OndrixNativeModuleImpl(std::shared_ptr<const TrackerServices> services);

    // Needs an app id; without one the reporter is left as it was.
    bool init(const TrackerConfig& config) override;
};

}  // namespace ORBA
