// For tests and the item fuzzer: everything corvane reads of a reminder, as
// one text, so that two readings of the same file can be compared whole.
#pragma once

#include <optional>
#include <sstream>
#include <string>

#include "store/due_date.h"
#include "store/instant.h"
#include "store/reminder.h"

namespace corvane {

inline std::string instantText(const std::optional<Instant>& instant) {
  return instant ? std::to_string(instant->time_since_epoch().count()) : "-";
}

// Equal texts mean the two readings agree. A zone is told by the instants
// it gives for the due date itself and for noon in January and July of its
// year.
inline std::string describedReading(const std::optional<Reminder>& reminder) {
  if (!reminder) return "no reminder";
  std::ostringstream out;
  out << "title=" << reminder->title.value_or("<none>")
      << "\nnotes=" << reminder->notes.value_or("<none>")
      << "\ncompleted=" << reminder->isCompleted
      << " priority=" << reminder->priority << " alarms=" << reminder->hasAlarms
      << "\ncreated=" << instantText(reminder->creationDate)
      << " modified=" << instantText(reminder->lastModifiedDate);
  if (const auto& due = reminder->dueDateComponents) {
    out << "\ndue=" << due->year << "-" << due->month << "-" << due->day << " "
        << due->hour.value_or(-1) << ":" << due->minute.value_or(-1) << ":"
        << due->second.value_or(-1) << " calendar=" << due->hasCalendar
        << " zone="
        << (!due->timeZone                   ? "none"
            : due->timeZone == utcTimeZone() ? "utc"
                                             : "other")
        << " at=" << instantText(resolveComponents(*due));
    if (due->timeZone)
      for (int month : {1, 7})
        out << " "
            << instantText(
                   due->timeZone->instantFor({due->year, month, 15, 12, 0, 0}));
  }
  for (const auto& rule : reminder->recurrenceRules) {
    out << "\nrule freq=" << rule.frequency << " interval=" << rule.interval;
    if (rule.daysOfTheWeek) {
      out << " days";
      for (const auto& day : *rule.daysOfTheWeek)
        out << " " << day.dayOfTheWeek << "/" << day.weekNumber;
    }
    if (rule.daysOfTheMonth) {
      out << " monthdays";
      for (auto day : *rule.daysOfTheMonth) out << " " << day;
    }
    if (rule.monthsOfTheYear) {
      out << " months";
      for (auto month : *rule.monthsOfTheYear) out << " " << month;
    }
    if (rule.recurrenceEnd)
      out << " end=" << instantText(rule.recurrenceEnd->endDate) << "/"
          << rule.recurrenceEnd->occurrenceCount;
  }
  return out.str();
}

}  // namespace corvane
