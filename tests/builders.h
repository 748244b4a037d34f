// For tests: the small values that unit tests of several folders build,
// written once.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "store/due_date.h"
#include "store/instant.h"
#include "store/reminder_list.h"

namespace corvane {

// Due-date components of a day, optionally with a time of day, in no zone
// of their own.
inline DueDateComponents onDay(int year, int month, int day,
                               std::optional<int> hour = std::nullopt,
                               std::optional<int> minute = std::nullopt,
                               std::optional<int> second = std::nullopt) {
  DueDateComponents components;
  components.year = year;
  components.month = month;
  components.day = day;
  components.hour = hour;
  components.minute = minute;
  components.second = second;
  return components;
}

// Components that stand for `instant`: its UTC date and time, in UTC.
inline DueDateComponents dueAt(Instant instant) {
  auto day = std::chrono::floor<std::chrono::days>(instant);
  std::chrono::year_month_day date{day};
  std::chrono::hh_mm_ss time{instant - day};
  DueDateComponents components = onDay(
      static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
      static_cast<int>(unsigned(date.day())),
      static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()));
  components.timeZone = utcTimeZone();
  return components;
}

inline ReminderList listNamed(const std::string& identifier,
                              const std::string& title) {
  ReminderList list;
  list.identifier = identifier;
  list.title = title;
  return list;
}

}  // namespace corvane
