// Changes a reminder's completion inside the text of its iCalendar file
// without re-serialising it, so that every byte other than the completion
// properties stays as the user's other tools wrote it.
#pragma once

#include <string>
#include <string_view>

#include "store/instant.h"
#include "store/result.h"

namespace corvane {

// The calendar text with the reminder's completion set. The reminder is the
// VTODO that the readers show, chosen by the one rule of
// store/ical/reminder_todo.h; overridden occurrences, alarms, time zones and
// all other lines are kept byte for byte.
//
// Completing sets STATUS:COMPLETED, COMPLETED and PERCENT-COMPLETE:100;
// reopening sets STATUS:NEEDS-ACTION and removes COMPLETED and
// PERCENT-COMPLETE. Either way LAST-MODIFIED and DTSTAMP become `now`, in
// UTC. A property that exists is replaced where it stands (its parameters
// dropped); a missing one is added after the VTODO's last property.
//
// Fails when the text holds no such VTODO, when its BEGIN and END lines
// do not pair up, so that the reminder's extent is unclear, or when the
// edited text would not read back as the same reminder (every field but
// completion and the modification date as before), in the state asked for
// and modified at `now`.
Result<std::string> withCompletion(std::string_view calendarText,
                                   bool completed, Instant now);

}  // namespace corvane
