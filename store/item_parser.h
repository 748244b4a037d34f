// Reading one calendar object file into the store's reminder values.
#pragma once

#include <optional>
#include <string_view>

#include "store/reminder.h"

namespace corvane {

// The reminder that `calendarText` holds: its VTODO without RECURRENCE-ID
// (or its first VTODO). Absent when the text holds no VTODO at all (an
// event, a journal entry) or cannot be read as iCalendar. Identifiers are
// left for the caller to fill in.
std::optional<Reminder> parseReminder(std::string_view calendarText);

}  // namespace corvane
