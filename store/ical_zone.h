// Time zones that libical knows: a file's own VTIMEZONE, or a zone of the
// time zone database named by a TZID.
#pragma once

#include <libical/ical.h>

#include <memory>
#include <string>

#include "store/due_date.h"

namespace corvane {

// The zone a TZID names, looked up first in `calendar`'s VTIMEZONEs (copied,
// so the zone outlives the calendar), then in the time zone database;
// null when neither knows it.
std::shared_ptr<const TimeZone> icalZoneFor(icalcomponent* calendar,
                                            const std::string& tzid);

}  // namespace corvane
