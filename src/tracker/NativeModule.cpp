#include "tracker/NativeModule.h"

#include <utility>

#include "orba/Logger.h"

namespace ORBA {
namespace {

const ReporterPolicy kNativePolicy = {&kNativeFlavor, true, nullptr};

}  // namespace

OndrixNativeModuleImpl::OndrixNativeModuleImpl(std::shared_ptr<const TrackerServices> services)
    : ReportingModule(kNativePolicy, std::move(services)) {}

bool OndrixNativeModuleImpl::init(const TrackerConfig& config) {
    if (config.appId.empty()) {
        Core::Logger::Log("InitTracker: no \"appId\" in \"config\"; nothing is reported until an "
                          "InitTracker names one");
        return false;
    }
    mutableReporter().configure(config.devKey, config.appId, config.appVersion, false,
                                endpointFrom(config));
    return true;
}

}  // namespace ORBA
