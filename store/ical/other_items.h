// What else an item file holds besides a reminder: a delete removes the
// whole file, so it must know whether anything but the reminder would go.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane {

// The number of items in `calendarText` other than the reminder's own
// series. The reminder is the VTODO the readers show
// (store/ical/reminder_todo.h); its series is every VTODO sharing its UID,
// overridden occurrences included. Time zones are no items. Everything else at
// the calendar's level counts once per kind and UID (an event and its
// overridden occurrences are one item), and once per component when it has
// no UID.
std::size_t countOtherItems(std::string_view calendarText);

}  // namespace corvane
