// The system's own time zone: the one TZ names, else /etc/localtime.
#pragma once

#include <optional>

#include "store/due_date.h"

namespace corvane {

// The instant at which the C library's local time (TZ as a POSIX rule such
// as "EET-2") shows `local`, worked out only from its conversion of
// instants to local time, which depends on nothing asked before. A time
// that happens twice is its first occurrence; one skipped by a clock change
// moves forward by the gap, as in every other zone. Absent when the C
// library cannot convert.
std::optional<Instant> instantFromCLibrary(const LocalDateTime& local);

}  // namespace corvane
