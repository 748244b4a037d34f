#include "recurrence/medium_date.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/scoped_environment.h"

namespace corvane {
namespace {

using std::chrono::hours;
using std::chrono::sys_days;
using namespace std::chrono_literals;

Instant at(std::chrono::year_month_day day, hours hour) {
  return std::chrono::time_point_cast<std::chrono::seconds>(sys_days{day} +
                                                            hour);
}

TEST(MediumDateTest, LocaleAndZone) {
  const struct {
    const char* locale;
    const char* zone;
    Instant instant;
    const char* expected;
  } cases[] = {
      {"en_US.UTF-8", "UTC", at(2026y / 1 / 5, 12h), "Jan 5, 2026"},
      {"C", "UTC", at(2026y / 1 / 5, 12h), "Jan 5, 2026"},
      {"C.UTF-8", "UTC", at(2026y / 1 / 5, 0h), "Jan 5, 2026"},
      {"de_DE.UTF-8", "UTC", at(2026y / 1 / 5, 12h), "05.01.2026"},
      {"en_GB.UTF-8", "UTC", at(2026y / 1 / 5, 12h), "5 Jan 2026"},
      // Still the 4th on the US west coast.
      {"en_US.UTF-8", "America/Los_Angeles", at(2026y / 1 / 5, 3h),
       "Jan 4, 2026"},
      {"en_US.UTF-8", ":America/Los_Angeles", at(2026y / 1 / 5, 3h),
       "Jan 4, 2026"},
      // Already the 5th in Tokyo.
      {"en_US.UTF-8", "Asia/Tokyo", at(2026y / 1 / 4, 20h), "Jan 5, 2026"},
      // A POSIX rule that no zone database names: 14 hours east of UTC.
      {"en_US.UTF-8", "XYZ-14", at(2026y / 1 / 4, 11h), "Jan 5, 2026"},
      // Across a year boundary, and a leap day.
      {"en_US.UTF-8", "Pacific/Auckland", at(2025y / 12 / 31, 12h),
       "Jan 1, 2026"},
      {"en_US.UTF-8", "UTC", at(2028y / 2 / 29, 23h), "Feb 29, 2028"},
  };
  for (const auto& c : cases) {
    ScopedEnvironment environment;
    environment.useLocaleAndZone(c.locale, c.zone);
    EXPECT_EQ(mediumDate(c.instant), c.expected) << c.locale << " " << c.zone;
  }
}

TEST(MediumDateTest, LocaleCalendarShowsTheSameDay) {
  ScopedEnvironment environment;
  environment.useLocaleAndZone("en_US.UTF-8", "Asia/Tokyo");
  // The Buddhist calendar counts 543 years ahead of the Gregorian one.
  std::string text =
      mediumDateInLocale(at(2026y / 1 / 4, 20h), "en_US@calendar=buddhist");
  EXPECT_NE(text.find("Jan 5"), std::string::npos) << text;
  EXPECT_NE(text.find("2569"), std::string::npos) << text;
}

TEST(MediumDateTest, SafeFromManyThreads) {
  ScopedEnvironment environment;
  environment.useLocaleAndZone("en_US.UTF-8", "UTC");
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 100; ++i)
        if (mediumDate(at(2026y / 1 / 5, 12h)) != "Jan 5, 2026") ++wrong[t];
    });
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(wrong[t], 0) << t;
}

}  // namespace
}  // namespace corvane
