#include "store/zones/database_zone.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "store/zones/system_zone.h"
#include "tests/scoped_environment.h"

namespace corvane {
namespace {

using namespace std::chrono;

// What the C library makes of a local time, reading the same database.
std::optional<Instant> cLibraryInstant(const LocalDateTime& t) {
  EXPECT_NE(std::getenv("TZ"), nullptr);
  return cLibraryZone()->instantFor(t);
}

TEST(DatabaseZoneTest, AgreesWithTheCLibraryAcrossYearsAndClockChanges) {
  // Every half past the hour on days around the clock changes of several
  // eras, and noon of every month from 1900 to 2100: gaps, repeats, old
  // local mean times and the years after the database's last table entry.
  for (const char* name : {"Europe/Berlin", "America/New_York", "Europe/London",
                           "Australia/Sydney", "America/Sao_Paulo",
                           "Asia/Tokyo", "Asia/Kolkata", "Pacific/Chatham"}) {
    ScopedEnvironment environment;
    environment.set("TZ", name);
    auto zone = databaseZone(name);
    ASSERT_TRUE(zone) << name;
    int checked = 0;
    for (int year : {1916, 1945, 1981, 2007, 2026, 2045}) {
      for (int month = 1; month <= 12; ++month) {
        for (int day : {1, 4, 7, 25, 26, 27, 28, 29, 30, 31}) {
          for (int hour = 0; hour < 24; ++hour) {
            if (!(std::chrono::year{year} / month / day).ok()) continue;
            LocalDateTime local{year, month, day, hour, 30, 0};
            ASSERT_EQ(zone->instantFor(local), cLibraryInstant(local))
                << name << " " << year << "-" << month << "-" << day << " "
                << hour << ":30";
            ++checked;
          }
        }
      }
    }
    for (int year = 1900; year <= 2100; ++year)
      for (int month = 1; month <= 12; ++month) {
        LocalDateTime noon{year, month, 15, 12, 0, 0};
        ASSERT_EQ(zone->instantFor(noon), cLibraryInstant(noon))
            << name << " " << year << "-" << month;
      }
    EXPECT_GT(checked, 10000) << name;
  }
}

TEST(DatabaseZoneTest, SystemZoneWithoutTzAgreesWithTheCLibrary) {
  // TZ=":/etc/localtime" has the C library read the file it reads when TZ
  // is unset.
  auto system = systemTimeZone();
  for (int year : {1960, 2000, 2026, 2050})
    for (int month = 1; month <= 12; ++month)
      for (int hour : {0, 1, 2, 3, 12, 23}) {
        LocalDateTime local{year, month, 28, hour, 30, 0};
        std::optional<Instant> withoutTz, fromCLibrary;
        {
          ScopedEnvironment environment;
          environment.unset("TZ");
          withoutTz = system->instantFor(local);
        }
        {
          ScopedEnvironment environment;
          environment.set("TZ", ":/etc/localtime");
          fromCLibrary = cLibraryInstant(local);
        }
        ASSERT_EQ(withoutTz, fromCLibrary)
            << year << "-" << month << " " << hour;
      }
}

TEST(DatabaseZoneTest, SkippedTimesGoForwardAndRepeatedOnesComeFirst) {
  auto berlin = databaseZone("Europe/Berlin");
  ASSERT_TRUE(berlin);
  // 2026-03-29 02:30 does not happen in Berlin: 03:30 summer time.
  EXPECT_EQ(berlin->instantFor({2026, 3, 29, 2, 30, 0}),
            sys_days{2026y / 3 / 29} + 1h + 30min);
  // 2026-10-25 02:30 happens twice: the first is still summer time.
  EXPECT_EQ(berlin->instantFor({2026, 10, 25, 2, 30, 0}),
            sys_days{2026y / 10 / 25} + 0h + 30min);
}

TEST(DatabaseZoneTest, OnlyPlainNamesReachTheDatabase) {
  for (const char* name :
       {"Europe/Berlin", "UTC", "Etc/GMT+5", "America/Port-au-Prince",
        "America/Argentina/Buenos_Aires"})
    EXPECT_TRUE(isZoneName(name)) << name;
  for (const char* name :
       {"", "/etc/localtime", "../../../etc/passwd",
        "Europe/../../../etc/passwd", "Europe//Berlin", "Europe/",
        "./Europe/Berlin", "Europe/Berlin\n", "Europe/Ber lin",
        "Europe\\Berlin", "file:/etc/passwd"})
    EXPECT_FALSE(isZoneName(name)) << name;
  EXPECT_FALSE(isZoneName(std::string(300, 'a')));
  for (const char* name :
       {"/etc/localtime", "../../../etc/passwd", "localtime",
        "Nowhere/Atlantis", "Europe", "W. Europe Standard Time"})
    EXPECT_FALSE(databaseZone(name)) << name;
}

}  // namespace
}  // namespace corvane
