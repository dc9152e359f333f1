#include "platform/LocaleTag.h"

#include <gtest/gtest.h>

#include "orba/Logger.h"
#include "support/DebugOutputCapture.h"

namespace ORBA {
namespace Platform {
namespace {

TEST(LocaleTagTest, FirstSetVariableDecides) {
    EXPECT_EQ(effectiveLocaleName("fr_FR.UTF-8", "de_DE.UTF-8", "en_GB.UTF-8"), "fr_FR.UTF-8");
    EXPECT_EQ(effectiveLocaleName("", "de_DE.UTF-8", "en_GB.UTF-8"), "de_DE.UTF-8");
    EXPECT_EQ(effectiveLocaleName(nullptr, nullptr, "en_GB.UTF-8"), "en_GB.UTF-8");
    EXPECT_EQ(effectiveLocaleName(nullptr, "", ""), "C");
}

TEST(LocaleTagTest, LocaleNamesBecomeLanguageTags) {
    EXPECT_EQ(languageTagFromLocale("en_US.UTF-8"), "en-US");
    EXPECT_EQ(languageTagFromLocale("de_DE@euro"), "de-DE");
    EXPECT_EQ(languageTagFromLocale("pt_br.iso88591"), "pt-BR");
    EXPECT_EQ(languageTagFromLocale("FR"), "fr");
    EXPECT_EQ(languageTagFromLocale("es_419.UTF-8"), "es-419");
    EXPECT_EQ(languageTagFromLocale("sr_RS@latin"), "sr-Latn-RS");
    EXPECT_EQ(languageTagFromLocale("uz_UZ.UTF-8@cyrillic"), "uz-Cyrl-UZ");
    EXPECT_EQ(languageTagFromLocale("ca_ES.UTF-8@valencia"), "ca-ES-valencia");
    EXPECT_EQ(languageTagFromLocale("ast_ES.UTF-8"), "ast-ES");
}

TEST(LocaleTagTest, LocaleNamesGiveTheirCountry) {
    EXPECT_EQ(countryFromLocale("en_US.UTF-8"), "US");
    EXPECT_EQ(countryFromLocale("de_at@euro"), "AT");
    EXPECT_EQ(countryFromLocale("es_419.UTF-8"), "");
    EXPECT_EQ(countryFromLocale("fr"), "");
}

TEST(LocaleTagTest, UntranslatedLocalesGiveAmericanEnglishAndNoCountry) {
    for (const char* locale : {"C", "POSIX", "C.UTF-8"}) {
        EXPECT_EQ(languageTagFromLocale(locale), "en-US") << locale;
        EXPECT_EQ(countryFromLocale(locale), "") << locale;
    }
}

TEST(LocaleTagTest, MalformedLocaleIsLoggedAndTreatedAsUntranslated) {
    Core::Logger::LogSetting::setUseOrbaCoreLog(true);
    OrbaTest::DebugOutputCapture capture;
    EXPECT_EQ(languageTagFromLocale("english"), "en-US");
    EXPECT_EQ(languageTagFromLocale("en_USA.UTF-8"), "en-US");
    EXPECT_EQ(countryFromLocale("/etc/passwd"), "");
    EXPECT_EQ(languageTagFromLocale("e1_US"), "en-US");
    EXPECT_EQ(capture.finish(),
              "Locale \"english\" is not a language_territory name; using the untranslated language\n"
              "Locale \"en_USA.UTF-8\" is not a language_territory name; using the untranslated language\n"
              "Locale \"/etc/passwd\" is not a language_territory name; using the untranslated language\n"
              "Locale \"e1_US\" is not a language_territory name; using the untranslated language\n");
    Core::Logger::LogSetting::setUseOrbaCoreLog(false);
}

}  // namespace
}  // namespace Platform
}  // namespace ORBA
