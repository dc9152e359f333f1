// Drives the fake Steamworks library that the tracker loads in tests, and puts the tracker's
// Steam API back on it afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "SharedLibrary.h"
#include "tracker/SteamApi.h"

namespace OrbaTest {

class FakeSteam {
public:
    FakeSteam() : library_(OrbaTools::executableFolder() + ORBA::SteamApi::defaultLibraryName()) {
        ORBA::SteamApi::instance().reload(ORBA::SteamApi::defaultLibraryName());
    }
    ~FakeSteam() {
        configure(1, 0, 0, 0);
        ORBA::SteamApi::instance().reload(ORBA::SteamApi::defaultLibraryName());
    }

    bool loaded() const { return library_.loaded(); }

    void configure(int initResult, std::uint32_t appId, std::int32_t buildId, std::uint64_t steamId,
                   bool nullInterfaces = false) {
        call<void (*)(int, std::uint32_t, std::int32_t, std::uint64_t, int)>("FakeSteam_Configure")(
            initResult, appId, buildId, steamId, nullInterfaces ? 1 : 0);
    }
    int runCallbacksCount() { return call<int (*)()>("FakeSteam_RunCallbacksCount")(); }
    int initCount() { return call<int (*)()>("FakeSteam_InitCount")(); }
    std::string lastVersions() { return call<const char* (*)()>("FakeSteam_LastVersions")(); }

private:
    template <typename Function>
    Function call(const char* name) {
        return reinterpret_cast<Function>(library_.symbol(name));
    }

    OrbaTools::SharedLibrary library_;
};

}  // namespace OrbaTest
