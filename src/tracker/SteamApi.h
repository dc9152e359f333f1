// The few Steamworks calls the Steam module needs, reached through the library's exported flat
// functions. The library is loaded on first use; when it, an entry point or an interface is
// missing, the API counts as unavailable and nothing of it is called.
#pragma once

#include <cstdint>
#include <string>

namespace ORBA {

class SteamApi {
public:
    // The process-wide API, loading the Steamworks library on first call.
    static SteamApi& instance();

    // The platform's file name of the Steamworks library.
    static const char* defaultLibraryName();

    // Loads `fileName`, a bare file name looked for only where the game ships its libraries,
    // instead of the default library, dropping the interfaces obtained so far.
    // Tests use it to switch between doubles of the library.
    void reload(const std::string& fileName);

    bool loaded() const { return library_ != nullptr; }

    // Lets the library dispatch its callbacks; does nothing when it is not loaded.
    void runCallbacks() const;

    // Starts the API and obtains the three interfaces; true only when all of that succeeded.
    bool init();

    // Valid after a successful init.
    std::uint32_t appId() const;
    std::int32_t appBuildId() const;
    std::uint64_t steamId() const;

private:
    SteamApi();

    struct Functions {
        int (*init)(const char* interfaceVersions, void* errorMessage) = nullptr;
        std::int32_t (*getHSteamUser)() = nullptr;
        void* (*findOrCreateUserInterface)(std::int32_t user, const char* version) = nullptr;
        void (*runCallbacks)() = nullptr;
        std::uint32_t (*getAppId)(void* utils) = nullptr;
        std::int32_t (*getAppBuildId)(void* apps) = nullptr;
        std::uint64_t (*getSteamId)(void* user) = nullptr;
    };

    void* library_ = nullptr;
    Functions functions_;
    void* utils_ = nullptr;
    void* apps_ = nullptr;
    void* user_ = nullptr;
};

}  // namespace ORBA
