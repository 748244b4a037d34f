// How a repeating reminder repeats, in English words: what repeats ("Every
// 2 weeks on Monday, Wednesday") and when it stops ("for 5 occurrences").
// The one place where recurrence rules are read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "recurrence/weekday.h"
#include "store/recurrence_rule.h"
#include "store/reminder_store.h"

namespace corvane {

struct RecurrenceDescription {
  std::string description;                // never empty
  std::optional<std::string> endDetails;  // absent when the rule never ends

  bool operator==(const RecurrenceDescription&) const = default;
};

// Describes the first of `rules`; later rules are never read. An empty list
// is "No recurrence" without end details. Weekday names are English and
// ordered by `weekdayOrder`; month names and the end date follow the user's
// locale, the end date also the system time zone.
RecurrenceDescription describeRecurrenceRules(
    const std::vector<RecurrenceRule>& rules, const WeekdayOrder& weekdayOrder);

// Looks the reminder up in `store` again and describes its rules. Absent
// when the identifier names nothing or an item that is not a reminder.
// Changes nothing in the store.
std::optional<RecurrenceDescription> humanReadableRecurrenceRule(
    const std::string& reminderId, ReminderStore& store,
    const WeekdayOrder& weekdayOrder);

}  // namespace corvane
