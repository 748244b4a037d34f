// When a repeating reminder falls due: the set of occurrences that its
// rules, extra dates and excluded dates make, worked out by libical's
// recurrence iteration in the reminder's own zone, so that a reminder at
// 09:00 stays at 09:00 across a clock change.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The reminder's occurrences from its current one on, in order: each as the
// value text its start property (DTSTART, or DUE where there is no DTSTART)
// would carry, in that property's own form (a DATE stays a date, a time
// with a TZID stays local to that zone, a UTC time keeps its "Z").
//
// The reminder is the VTODO that a reader shows (store/ical/reminder_todo.h);
// an overridden occurrence kept without its series does not repeat. The
// current occurrence is the one its start names; RDATEs before it are past. At
// most `limit` occurrences are listed. Absent when the text cannot be read or
// the reminder has no RRULE or RDATE, or no DTSTART and no DUE to count from.
std::optional<std::vector<std::string>> upcomingOccurrences(
    std::string_view calendarText, std::size_t limit);

// What moving a series from its current occurrence to the next one
// changes: the new values of its DTSTART and DUE, and the new COUNT of each
// of its RRULEs.
struct SeriesStep {
  std::optional<std::string> start;  // DTSTART's new value, where it has one
  std::optional<std::string> due;    // DUE's new value, where it has one
  // For each RRULE of the reminder, in file order: its COUNT less the
  // occurrences it made before the next one, where it has a COUNT.
  std::vector<std::optional<int>> counts;
};

// The step to the first occurrence after the current one. DUE keeps its
// distance from DTSTART (on the clock when both are in one zone). Absent
// when the reminder does not repeat (as for upcomingOccurrences) or has no
// occurrence after its current one.
std::optional<SeriesStep> stepToNextOccurrence(std::string_view calendarText);

}  // namespace corvane
