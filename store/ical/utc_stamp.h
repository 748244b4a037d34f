// An instant as an iCalendar UTC date-time value, the form the edits give
// the stamps they set (DTSTAMP, LAST-MODIFIED, COMPLETED).
#pragma once

#include <string>

#include "store/instant.h"

namespace corvane {

// `t` as YYYYMMDDTHHMMSSZ.
std::string utcStamp(Instant t);

}  // namespace corvane
