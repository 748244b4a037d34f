#include "recurrence/user_locale.h"

#include <gtest/gtest.h>

#include "tests/scoped_environment.h"

namespace corvane {
namespace {

TEST(UserLocaleTest, ConvertsPosixNames) {
  const struct {
    const char* posix;
    const char* icu;
  } cases[] = {
      {"", "en_US_POSIX"},
      {"C", "en_US_POSIX"},
      {"POSIX", "en_US_POSIX"},
      {"C.UTF-8", "en_US_POSIX"},
      {"C.utf8", "en_US_POSIX"},
      {"POSIX.UTF-8", "en_US_POSIX"},
      {"de_DE.UTF-8", "de_DE"},
      {"de_DE", "de_DE"},
      {"de", "de"},
      {"pt_BR.ISO-8859-1", "pt_BR"},
      {"de_DE@euro", "de_DE"},
      {"de_DE.UTF-8@euro", "de_DE"},
      {"en_GB.utf8", "en_GB"},
      {"sr_RS.UTF-8@latin", "sr_Latn_RS"},
      {"sr_RS@cyrillic", "sr_Cyrl_RS"},
      {"uz_UZ.UTF-8@cyrillic", "uz_Cyrl_UZ"},
      {"ca_ES.UTF-8@valencia", "ca_ES_VALENCIA"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(icuLocaleIdFromPosix(c.posix), c.icu) << '"' << c.posix << '"';
}

TEST(UserLocaleTest, FollowsPosixPrecedence) {
  const struct {
    const char* lcAll;
    const char* lcTime;
    const char* lang;
    const char* expected;
  } cases[] = {
      {"de_DE.UTF-8", "fr_FR.UTF-8", "it_IT.UTF-8", "de_DE"},
      {nullptr, "fr_FR.UTF-8", "it_IT.UTF-8", "fr_FR"},
      {nullptr, nullptr, "it_IT.UTF-8", "it_IT"},
      {"", "", "it_IT.UTF-8", "it_IT"},
      {"", "fr_FR.UTF-8", "it_IT.UTF-8", "fr_FR"},
      {nullptr, nullptr, nullptr, "en_US_POSIX"},
      {"", "", "", "en_US_POSIX"},
      {"C", "fr_FR.UTF-8", "it_IT.UTF-8", "en_US_POSIX"},
  };
  for (const auto& c : cases) {
    ScopedEnvironment environment;
    auto put = [&](const char* name, const char* value) {
      if (value)
        environment.set(name, value);
      else
        environment.unset(name);
    };
    put("LC_ALL", c.lcAll);
    put("LC_TIME", c.lcTime);
    put("LANG", c.lang);
    EXPECT_EQ(userLocaleId(), c.expected) << c.expected;
  }
}

TEST(UserLocaleTest, UnknownLanguageFallsBackToPosix) {
  ScopedEnvironment environment;
  environment.unset("LC_TIME");
  environment.unset("LANG");
  environment.set("LC_ALL", "qqq_ZZ.UTF-8");
  EXPECT_EQ(userLocaleId(), kPosixLocaleId);
  // A territory ICU has no data for still uses the language.
  environment.set("LC_ALL", "de_ZZ.UTF-8");
  EXPECT_EQ(userLocaleId(), "de_ZZ");
}

}  // namespace
}  // namespace corvane
