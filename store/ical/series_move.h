// Completing one occurrence of a repeating reminder without ending the
// series: the occurrence becomes a completed item of its own and the series
// moves on to its next occurrence. Both are made as text, so every byte of
// the series' file that the change does not own stays as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/instant.h"
#include "store/result.h"

namespace corvane {

struct SeriesMove {
  // The series' file with DTSTART and DUE moved to the next occurrence,
  // each RRULE's COUNT less the occurrences used up, and LAST-MODIFIED and
  // DTSTAMP set to now; every other line as it was.
  std::string series;
  // A calendar object of its own: the current occurrence, completed, under
  // the new UID; the series' properties and alarms without its recurrence,
  // and the VTIMEZONEs those use.
  std::string occurrence;
};

// The move that completing the reminder in `calendarText` makes, with
// `uid` for the completed occurrence. Absent when completing ends the
// reminder instead: it does not repeat (no RRULE or RDATE, or no DTSTART
// and no DUE to count from), it has no occurrence after its current one,
// or it is completed already. Fails, so that nothing is written, when the
// file's structure is unclear or when the moved series would not repeat
// exactly as the series would have from its next occurrence on.
Result<std::optional<SeriesMove>> completeOccurrence(
    std::string_view calendarText, const std::string& uid, Instant now);

// A new globally unique UID (a random UUID), plain enough to name a file.
std::string newUid();

}  // namespace corvane
