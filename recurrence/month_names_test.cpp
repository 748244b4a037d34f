#include "recurrence/month_names.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "tests/scoped_environment.h"

namespace corvane {
namespace {

TEST(MonthNamesTest, EnglishNamesInCalendarOrder) {
  ScopedEnvironment environment;
  environment.useLocaleAndZone("en_US.UTF-8", "UTC");
  const char* expected[] = {"January",   "February", "March",    "April",
                            "May",       "June",     "July",     "August",
                            "September", "October",  "November", "December"};
  for (int month = 1; month <= 12; ++month)
    EXPECT_EQ(toMonthName(month), expected[month - 1]) << month;
}

TEST(MonthNamesTest, PosixLocaleIsEnglish) {
  ScopedEnvironment environment;
  environment.useLocaleAndZone("C", "UTC");
  EXPECT_EQ(toMonthName(1), "January");
  EXPECT_EQ(toMonthName(12), "December");
}

TEST(MonthNamesTest, FollowsTheUserLocale) {
  ScopedEnvironment environment;
  environment.useLocaleAndZone("en_US.UTF-8", "UTC");
  EXPECT_EQ(toMonthName(12), "December");
  // A changed locale is not answered from the names of the previous one.
  environment.set("LC_ALL", "de_DE.UTF-8");
  EXPECT_EQ(toMonthName(12), "Dezember");
  EXPECT_EQ(toMonthName(6), "Juni");
  EXPECT_EQ(toMonthName(3), "M\xC3\xA4rz");
  environment.set("LC_ALL", "fr_FR.UTF-8");
  EXPECT_EQ(toMonthName(2), "f\xC3\xA9vrier");
}

TEST(MonthNamesTest, GregorianEvenWhereTheLocalePrefersAnotherCalendar) {
  // Saudi Arabic and Persian prefer other calendars; the store's month
  // numbers are Gregorian either way.
  const struct {
    const char* locale;
    const char* january;
  } cases[] = {
      {"en_US@calendar=hebrew", "January"},
      {"ar_SA", "\xD9\x8A\xD9\x86\xD8\xA7\xD9\x8A\xD8\xB1"},
      {"fa_IR", "\xDA\x98\xD8\xA7\xD9\x86\xD9\x88\xDB\x8C\xD9\x87\xD9\x94"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names = monthNamesForLocale(c.locale);
    ASSERT_EQ(names.size(), 12u) << c.locale;
    EXPECT_EQ(names[0], c.january) << c.locale;
  }
}

TEST(MonthNamesTest, OutOfRangeIsTheNumber) {
  ScopedEnvironment environment;
  environment.useLocaleAndZone("en_US.UTF-8", "UTC");
  const int cases[] = {0, 13, -1, INT_MIN, INT_MAX};
  for (int month : cases) EXPECT_EQ(toMonthName(month), std::to_string(month));
}

TEST(MonthNamesTest, SafeFromManyThreads) {
  ScopedEnvironment environment;
  environment.useLocaleAndZone("en_US.UTF-8", "UTC");
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 500; ++i)
        if (toMonthName(i % 12 + 1).empty()) ++wrong[t];
    });
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(wrong[t], 0) << t;
}

}  // namespace
}  // namespace corvane
