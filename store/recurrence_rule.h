// A reminder's recurrence rule, reduced to what corvane describes. Numbers
// are kept as the file gives them, in 64 bits, so that none is shown wrapped.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "store/instant.h"

namespace corvane {

// Frequency numbers: 0 daily, 1 weekly, 2 monthly, 3 yearly; any other
// number is a frequency corvane only calls "Repeats".
enum class Frequency : int {
  kDaily = 0,
  kWeekly = 1,
  kMonthly = 2,
  kYearly = 3
};
inline constexpr int kFrequencyHourly = 4;
inline constexpr int kFrequencyMinutely = 5;
inline constexpr int kFrequencySecondly = 6;

struct RecurrenceDayOfWeek {
  int dayOfTheWeek = 0;  // 1 Sunday ... 7 Saturday
  int weekNumber = 0;    // 0 for every week; never shown

  bool operator==(const RecurrenceDayOfWeek&) const = default;
};

struct RecurrenceEnd {
  std::optional<Instant> endDate;    // UNTIL
  std::int64_t occurrenceCount = 0;  // COUNT, read only without an end date

  bool operator==(const RecurrenceEnd&) const = default;
};

struct RecurrenceRule {
  int frequency = 0;
  std::int64_t interval = 1;
  std::optional<std::vector<RecurrenceDayOfWeek>> daysOfTheWeek;
  std::optional<std::vector<std::int64_t>> daysOfTheMonth;
  std::optional<std::vector<std::int64_t>> monthsOfTheYear;
  std::optional<RecurrenceEnd> recurrenceEnd;

  bool operator==(const RecurrenceRule&) const = default;
};

}  // namespace corvane
