// Reading one calendar object file into the store's reminder values.
#pragma once

#include <optional>
#include <string_view>

#include "store/reminder.h"

namespace corvane {

// The reminder that `calendarText` holds: the VTODO that the rule of
// store/ical/reminder_todo.h chooses. Absent when the text holds no VTODO at
// all (an event, a journal entry) or cannot be read as iCalendar. Identifiers
// are left for the caller to fill in. Plain files are read by the quick reader
// (store/ical/item_scanner.h), all others by libical.
std::optional<Reminder> parseReminder(std::string_view calendarText);

// The same, always through libical; what the quick reader must agree with.
std::optional<Reminder> parseReminderWithLibical(std::string_view calendarText);

// False only when `calendarText` cannot hold a DUE property anywhere, so
// that a query for reminders with a due date need not parse it at all.
bool mayHaveDueDate(std::string_view calendarText);

}  // namespace corvane
