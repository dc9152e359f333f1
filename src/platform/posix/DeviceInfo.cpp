#include "platform/DeviceInfo.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "core/Utf.h"
#include "platform/LocaleTag.h"
#include "platform/SysfsDevices.h"

namespace ORBA {
namespace Platform {
namespace {

// Names cross the library boundary as UTF-8, as on Windows; a name that is not fails the same way.
std::string checkedUtf8(std::string name) {
    Core::utf8ToUtf16(name);
    return name;
}

std::string_view currentLocaleName() {
    return effectiveLocaleName(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                               std::getenv("LANG"));
}

}  // namespace

PropertyReads queryDeviceModels() {
    std::optional<std::string> model = readDmiProductName("/");
    if (!model) return {};
    return {std::move(model)};
}

PropertyReads queryGpuNames() {
    const std::vector<PciId> controllers = readDisplayControllers("/");
    if (controllers.empty()) return {};
    const std::string databasePath = findPciIdsDatabase("/");
    std::ifstream database;
    if (!databasePath.empty()) database.open(databasePath);
    PropertyReads reads;
    for (std::string& name : namePciDevices(controllers, database.is_open() ? &database : nullptr)) {
        reads.emplace_back(std::move(name));
    }
    return reads;
}

std::string queryDeviceName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return checkedUtf8(name);
}

std::string queryUserName() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    int error;
    while ((error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found)) ==
               ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (error != 0 || found == nullptr || found->pw_name == nullptr) return {};
    return checkedUtf8(found->pw_name);
}

std::string queryLanguage() { return languageTagFromLocale(currentLocaleName()); }

std::string queryCountry() { return countryFromLocale(currentLocaleName()); }

// Linux has no advertising identifier; the empty text reads as "limited" to the host.
std::string queryAdvertisingId() { return {}; }

}  // namespace Platform
}  // namespace ORBA
