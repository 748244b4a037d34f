// Time zones that libical knows: a file's own VTIMEZONE, or a zone of the
// time zone database named by a TZID.
#pragma once

#include <libical/ical.h>

#include <memory>
#include <string>
#include <string_view>

#include "store/due_date.h"

namespace corvane {

// The zone a TZID names, looked up first in `calendar`'s VTIMEZONEs (copied,
// so the zone outlives the calendar), then in the time zone database;
// null when neither knows it.
std::shared_ptr<const TimeZone> icalZoneFor(icalcomponent* calendar,
                                            const std::string& tzid);

// The libical zone a TZID names for libical's own arithmetic on times (the
// series move): the calendar's own VTIMEZONE, else libical's copy of the
// time zone database, which reads the same files as databaseZone when TZDIR
// is unset; null (a floating time) when neither knows it.
icaltimezone* libicalZoneFor(icalcomponent* calendar, const char* tzid);

// The zone that the text of one VTIMEZONE component (BEGIN:VTIMEZONE to
// END:VTIMEZONE) defines; null when libical cannot make one of it. Shared
// with every other item of the process that carries the same text, unless
// an offset of a day or more makes libical's answers depend on what was
// asked of the zone before.
std::shared_ptr<const TimeZone> icalZoneFromText(
    std::string_view vtimezoneText);

}  // namespace corvane
