// A stand-in for the Steamworks library: exports the entry points the tracker resolves, with
// answers that tests set through FakeSteam_Configure.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(_WIN32)
#define FAKE_STEAM_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_STEAM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct Interface {
    const char* version;
};

Interface utils{"SteamUtils010"};
Interface apps{"STEAMAPPS_INTERFACE_VERSION008"};
Interface user{"SteamUser023"};

struct State {
    int initResult = 1;  // fails until a test configures it
    std::uint32_t appId = 0;
    std::int32_t buildId = 0;
    std::uint64_t steamId = 0;
    bool nullInterfaces = false;
    int runCallbacks = 0;
    int inits = 0;
    char lastVersions[256] = {};
} state;

}  // namespace

FAKE_STEAM_EXPORT void FakeSteam_Configure(int initResult, std::uint32_t appId,
                                           std::int32_t buildId, std::uint64_t steamId,
                                           int nullInterfaces) {
    state = State();
    state.initResult = initResult;
    state.appId = appId;
    state.buildId = buildId;
    state.steamId = steamId;
    state.nullInterfaces = nullInterfaces != 0;
}

FAKE_STEAM_EXPORT int FakeSteam_RunCallbacksCount() { return state.runCallbacks; }
FAKE_STEAM_EXPORT int FakeSteam_InitCount() { return state.inits; }

// The interface-version list of the last init, NULs shown as '|'.
FAKE_STEAM_EXPORT const char* FakeSteam_LastVersions() { return state.lastVersions; }

FAKE_STEAM_EXPORT int SteamInternal_SteamAPI_Init(const char* versions, void*) {
    ++state.inits;
    std::size_t n = 0;
    while (n + 1 < sizeof state.lastVersions && !(versions[n] == '\0' && versions[n + 1] == '\0')) {
        state.lastVersions[n] = versions[n] == '\0' ? '|' : versions[n];
        ++n;
    }
    state.lastVersions[n] = '\0';
    return state.initResult;
}

FAKE_STEAM_EXPORT std::int32_t SteamAPI_GetHSteamUser() { return 7; }

FAKE_STEAM_EXPORT void* SteamInternal_FindOrCreateUserInterface(std::int32_t hUser,
                                                                const char* version) {
    if (state.nullInterfaces) return nullptr;
    for (Interface* candidate : {&utils, &apps, &user}) {
        const bool global = candidate == &utils;
        if (std::strcmp(version, candidate->version) == 0 && (global ? hUser == 0 : hUser == 7)) {
            return candidate;
        }
    }
    return nullptr;
}

FAKE_STEAM_EXPORT void SteamAPI_RunCallbacks() { ++state.runCallbacks; }

FAKE_STEAM_EXPORT std::uint32_t SteamAPI_ISteamUtils_GetAppID(void* self) {
    return self == &utils ? state.appId : 0;
}

FAKE_STEAM_EXPORT std::int32_t SteamAPI_ISteamApps_GetAppBuildId(void* self) {
    return self == &apps ? state.buildId : 0;
}

#ifndef FAKE_STEAM_WITHOUT_USER
FAKE_STEAM_EXPORT std::uint64_t SteamAPI_ISteamUser_GetSteamID(void* self) {
    return self == &user ? state.steamId : 0;
}
#endif
