// Which VTODO of a calendar libical has parsed is the reminder, by the one
// rule of store/ical/reminder_todo.h: the reader shows it and the series move
// counts its occurrences, so both take the same one.
#pragma once

#include <libical/ical.h>

namespace corvane {

// The reminder's VTODO under `root` (a calendar, a lone component, or the
// root libical gathers several top-level components under); null when
// there is none.
icalcomponent* reminderTodoOf(icalcomponent* root);

}  // namespace corvane
