#include "tracker/SteamApi.h"

#include "platform/DynamicLibrary.h"

namespace ORBA {
namespace {

const char kUtilsVersion[] = "SteamUtils010";
const char kAppsVersion[] = "STEAMAPPS_INTERFACE_VERSION008";
const char kUserVersion[] = "SteamUser023";
// The interface versions the library must support, each ended by a NUL, the list by another.
const char kRequiredVersions[] = "SteamUtils010\0STEAMAPPS_INTERFACE_VERSION008\0SteamUser023\0";

template <typename Function>
void resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(Platform::findLibraryFunction(library, name));
}

}  // namespace

const char* SteamApi::defaultLibraryName() {
#ifdef _WIN32
    return "steam_api64.dll";
#else
    return "libsteam_api.so";
#endif
}

SteamApi& SteamApi::instance() {
    static SteamApi api;
    return api;
}

SteamApi::SteamApi() { reload(defaultLibraryName()); }

void SteamApi::reload(const std::string& fileName) {
    functions_ = Functions();
    utils_ = apps_ = user_ = nullptr;
    library_ = Platform::loadGameLibrary(fileName);
    if (library_ == nullptr) return;
    resolve(library_, "SteamInternal_SteamAPI_Init", functions_.init);
    resolve(library_, "SteamAPI_GetHSteamUser", functions_.getHSteamUser);
    resolve(library_, "SteamInternal_FindOrCreateUserInterface", functions_.findOrCreateUserInterface);
    resolve(library_, "SteamAPI_RunCallbacks", functions_.runCallbacks);
    resolve(library_, "SteamAPI_ISteamUtils_GetAppID", functions_.getAppId);
    resolve(library_, "SteamAPI_ISteamApps_GetAppBuildId", functions_.getAppBuildId);
    resolve(library_, "SteamAPI_ISteamUser_GetSteamID", functions_.getSteamId);
}

void SteamApi::runCallbacks() const {
    if (functions_.runCallbacks != nullptr) functions_.runCallbacks();
}

bool SteamApi::init() {
    utils_ = apps_ = user_ = nullptr;
    const Functions& f = functions_;
    if (!f.init || !f.getHSteamUser || !f.findOrCreateUserInterface || !f.getAppId ||
        !f.getAppBuildId || !f.getSteamId) {
        return false;
    }
    // The library reports success as 0.
    if (f.init(kRequiredVersions, nullptr) != 0) return false;
    const std::int32_t user = f.getHSteamUser();
    void* utils = f.findOrCreateUserInterface(0, kUtilsVersion);
    void* apps = f.findOrCreateUserInterface(user, kAppsVersion);
    void* steamUser = f.findOrCreateUserInterface(user, kUserVersion);
    if (utils == nullptr || apps == nullptr || steamUser == nullptr) return false;
    utils_ = utils;
    apps_ = apps;
    user_ = steamUser;
    return true;
}

std::uint32_t SteamApi::appId() const { return utils_ ? functions_.getAppId(utils_) : 0; }

std::int32_t SteamApi::appBuildId() const { return apps_ ? functions_.getAppBuildId(apps_) : 0; }

std::uint64_t SteamApi::steamId() const { return user_ ? functions_.getSteamId(user_) : 0; }

}  // namespace ORBA
