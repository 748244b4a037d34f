// A quick reader for the plain calendar files that nearly every program
// writes. For a text it understands it gives exactly the reminder that the
// general, libical-based reader gives. Any text with something it does not
// fully understand (unusual escapes, quoted parameters, other components,
// values libical would repair or reject) it declines, and that text goes
// to the general reader instead. Reading is most of the cost of a query,
// and libical spends most of its time on properties corvane never shows.
#pragma once

#include <optional>
#include <string_view>

#include "store/reminder.h"

namespace corvane {

// The reminder of a calendar object holding one or more VTODOs, with
// identifiers left empty; absent when the text is declined.
std::optional<Reminder> scanReminder(std::string_view calendarText);

}  // namespace corvane
