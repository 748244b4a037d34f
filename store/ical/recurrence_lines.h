// The part of an item that decides when its reminder repeats, for libical
// to read instead of the whole: a large description or many other lines
// then cost the recurrence reading nothing.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// `calendarText` with only the lines that the reminder's choice and its
// set of occurrences depend on, each byte for byte: every BEGIN and END
// (so that the same VTODO is the reminder), every line of a VTIMEZONE,
// and the DTSTART, DUE, RRULE, RDATE, EXDATE and RECURRENCE-ID lines; a
// line that is not a property is kept too.
std::string recurrenceLines(std::string_view calendarText);

}  // namespace corvane
