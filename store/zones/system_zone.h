// The system's own time zone: the one TZ names, else /etc/localtime.
#pragma once

#include <memory>

#include "store/due_date.h"

namespace corvane {

// The C library's local time (TZ as a POSIX rule such as "EET-2"), worked
// out only from its conversion of instants to local time.
std::shared_ptr<const TimeZone> cLibraryZone();

}  // namespace corvane
