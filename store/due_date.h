// Due dates as the store keeps them: calendar fields, optionally a time of
// day and a time zone, rather than an instant.
#pragma once

#include <memory>
#include <optional>

#include "store/instant.h"

namespace corvane {

struct LocalDateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// A time zone that can place a wall-clock time on the time line. Abstract
// so that zones from a file's VTIMEZONE, the time zone database, UTC and
// the system's own zone all serve the same way.
class TimeZone {
 public:
  virtual ~TimeZone() = default;
  // The instant at which clocks in this zone show `local`; absent when the
  // zone cannot tell. A time skipped by a clock change resolves forward.
  virtual std::optional<Instant> instantFor(const LocalDateTime& local) const = 0;
};

// UTC, and the system zone: the one TZ names, else /etc/localtime. A TZ
// that names something other than a zone file (a FIFO, a folder) is
// replaced by UTC when the program starts (store/system_zone.cpp).
std::shared_ptr<const TimeZone> utcTimeZone();
std::shared_ptr<const TimeZone> systemTimeZone();

struct DueDateComponents {
  int year = 0, month = 0, day = 0;
  std::optional<int> hour, minute, second;  // all absent for a date alone
  std::shared_ptr<const TimeZone> timeZone;  // null: none of its own
  bool hasCalendar = true;                   // Gregorian
};

// The instant the components stand for: missing time fields count as 0,
// the components' own zone is used, else the system zone. Absent without
// a calendar, for an impossible date, or where the zone cannot tell.
std::optional<Instant> resolveComponents(const DueDateComponents& components);

}  // namespace corvane
