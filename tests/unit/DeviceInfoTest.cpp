// The exported device functions on Linux, against this machine and its environment.
#include "orba/misc/DeviceIdentity.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace ORBA {
namespace Platform {
namespace {

using namespace Misc;

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(DeviceInfoTest, LanguageAndCountryFollowTheLocaleVariables) {
    ScopedEnv all("LC_ALL", nullptr);
    ScopedEnv messages("LC_MESSAGES", "de_AT.UTF-8");
    ScopedEnv lang("LANG", "fr_FR.UTF-8");
    EXPECT_EQ(getLanguage(), "de-AT");
    EXPECT_EQ(getCountry(), "AT");
    {
        ScopedEnv override("LC_ALL", "C.UTF-8");
        EXPECT_EQ(getLanguage(), "en-US");
        EXPECT_EQ(getCountry(), "");
    }
}

TEST(DeviceInfoTest, NoAdvertisingIdentifierMeansLimitedTracking) {
    EXPECT_EQ(getAdvertisingId(), "");
    EXPECT_TRUE(getIsLimitAdTracking());
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
