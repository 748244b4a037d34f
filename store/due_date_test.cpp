#include "store/due_date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "tests/builders.h"
#include "tests/scoped_environment.h"
#include "tests/utc_text.h"

namespace corvane {
namespace {

TEST(DueDateTest, UtcComponents) {
  struct Case {
    DueDateComponents components;
    std::string instant;
  } cases[] = {
      {onDay(2024, 3, 5, 9, 30), "2024-03-05T09:30:00Z"},
      {onDay(2024, 3, 5, 9, 30, 7), "2024-03-05T09:30:07Z"},
      {onDay(2024, 3, 5), "2024-03-05T00:00:00Z"},
      {onDay(2024, 2, 29, 23, 59, 59), "2024-02-29T23:59:59Z"},
      {onDay(1970, 1, 1), "1970-01-01T00:00:00Z"},
      {onDay(1969, 12, 31, 23, 59, 59), "1969-12-31T23:59:59Z"},
      {onDay(2100, 12, 31, 12), "2100-12-31T12:00:00Z"},
  };
  for (auto& c : cases) {
    c.components.timeZone = utcTimeZone();
    EXPECT_EQ(utcText(resolveComponents(c.components)), c.instant) << c.instant;
  }
}

TEST(DueDateTest, WithoutZoneReadInSystemZone) {
  struct Case {
    const char* zone;
    DueDateComponents components;
    std::string instant;
  } cases[] = {
      {"America/New_York", onDay(2024, 3, 5, 9, 30), "2024-03-05T14:30:00Z"},
      {"America/New_York", onDay(2024, 7, 5, 9, 30), "2024-07-05T13:30:00Z"},
      {"America/New_York", onDay(2024, 3, 5), "2024-03-05T05:00:00Z"},
      {"Asia/Tokyo", onDay(2024, 3, 5, 9, 30), "2024-03-05T00:30:00Z"},
      {"Asia/Tokyo", onDay(2024, 3, 5), "2024-03-04T15:00:00Z"},
      {"UTC", onDay(2024, 3, 5, 9, 30), "2024-03-05T09:30:00Z"},
      // The second before the epoch is a time like any other.
      {"UTC", onDay(1969, 12, 31, 23, 59, 59), "1969-12-31T23:59:59Z"},
  };
  for (const auto& c : cases) {
    ScopedTimeZone zone(c.zone);
    EXPECT_EQ(utcText(resolveComponents(c.components)), c.instant)
        << c.zone << " " << c.instant;
    DueDateComponents explicitZone = c.components;
    explicitZone.timeZone = systemTimeZone();
    EXPECT_EQ(utcText(resolveComponents(explicitZone)), c.instant)
        << c.zone << " " << c.instant;
  }
}

TEST(DueDateTest, ClockChanges) {
  ScopedTimeZone zone("America/New_York");
  // 02:30 on 10 March 2024 never happened there; it resolves forward to
  // what 02:30 standard time is (03:30 daylight time).
  EXPECT_EQ(utcText(resolveComponents(onDay(2024, 3, 10, 2, 30))),
            "2024-03-10T07:30:00Z");
  // 01:30 on 3 November 2024 happened twice; either is a fair answer.
  std::string twice = utcText(resolveComponents(onDay(2024, 11, 3, 1, 30)));
  EXPECT_TRUE(twice == "2024-11-03T05:30:00Z" ||
              twice == "2024-11-03T06:30:00Z")
      << twice;
}

TEST(DueDateTest, ImpossibleDatesAreAbsent) {
  const DueDateComponents impossible[] = {
      onDay(2024, 2, 30),    onDay(2024, 2, 31),
      onDay(2023, 2, 29),    onDay(2024, 4, 31),
      onDay(2024, 13, 1),    onDay(2024, 0, 10),
      onDay(2024, 1, 0),     onDay(2024, -1, 5),
      onDay(2024, 3, 5, 24), onDay(2024, 3, 5, 9, 60),
      onDay(2024, 3, 5, -1), onDay(2024, 3, 5, 9, 30, 61),
      onDay(0, 0, 0),
  };
  for (const char* zone : {"UTC", "Asia/Tokyo"}) {
    ScopedTimeZone scoped(zone);
    for (auto c : impossible) {
      std::string label =
          std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
          std::to_string(c.day) + " " + std::to_string(c.hour.value_or(0)) +
          ":" + std::to_string(c.minute.value_or(0));
      EXPECT_EQ(utcText(resolveComponents(c)), "absent")
          << label << " " << zone;
      c.timeZone = utcTimeZone();
      EXPECT_EQ(utcText(resolveComponents(c)), "absent")
          << label << " UTC zone";
    }
  }
}

TEST(DueDateTest, NoCalendarIsAbsent) {
  DueDateComponents c = onDay(2024, 3, 5, 9, 30);
  c.timeZone = utcTimeZone();
  c.hasCalendar = false;
  EXPECT_FALSE(resolveComponents(c));
  c.hasCalendar = true;
  EXPECT_TRUE(resolveComponents(c));
}

TEST(DueDateTest, ComponentsOwnZoneWinsOverSystemZone) {
  ScopedTimeZone zone("Asia/Tokyo");
  DueDateComponents c = onDay(2024, 3, 5, 9, 30);
  c.timeZone = utcTimeZone();
  EXPECT_EQ(utcText(resolveComponents(c)), "2024-03-05T09:30:00Z");
}

}  // namespace
}  // namespace corvane
