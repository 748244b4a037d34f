// Zones of the system's time zone database (/usr/share/zoneinfo, or TZDIR),
// the same data the C library reads.
#pragma once

#include <memory>
#include <string>

#include "store/due_date.h"

namespace corvane {

// The database zone named `name` ("Europe/Berlin"); null when the name is
// not a plain zone name or the database has no such zone. Safe to use from
// any thread.
std::shared_ptr<const TimeZone> databaseZone(const std::string& name);

// The zone in the zone file at `path`, which the caller has found to be a
// regular file; null when it cannot be read as one. Loaded once per path.
std::shared_ptr<const TimeZone> zoneFromFile(const std::string& path);

// The zone of /etc/localtime, which the C library reads when TZ is unset;
// null when that file is missing or not a zone file. Loaded once.
std::shared_ptr<const TimeZone> localtimeFileZone();

// Whether `name` could name a database zone: relative, made of parts of
// letters, digits and "._+-", none of them "." or "..". Anything else would
// have the database reader open a file outside the database.
bool isZoneName(const std::string& name);

}  // namespace corvane
