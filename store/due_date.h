// Due dates as the store keeps them: calendar fields, optionally a time of
// day and a time zone, rather than an instant.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "store/instant.h"

namespace corvane {

struct LocalDateTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// Where a wall-clock time that a clock change skips is placed.
enum class SkippedTime {
  // Read with the offset in force before the change: as far past the gap
  // as it lies into it (a due time: 02:30 in a gap of 02:00-03:00 is 03:30).
  kShiftedByGap,
  // The first instant after the gap (the end of a day whose 23:59:59 the
  // clocks skip is the change itself).
  kNextTime,
};

// A time zone: its offset from UTC at any instant. Abstract so that zones
// from a file's VTIMEZONE, the time zone database, UTC and the system's own
// zone all serve the same way; every zone places wall-clock times by the
// one rule of instantFor.
class TimeZone {
 public:
  virtual ~TimeZone() = default;
  // What clocks in this zone show less UTC at `instant`; absent when the
  // zone cannot tell.
  virtual std::optional<std::chrono::seconds> offsetAt(
      Instant instant) const = 0;

  // The instant at which clocks in this zone show `local`
  // (store/zones/wall_time.cpp): a time that happens twice is its first
  // occurrence, a skipped one is placed as `skipped` says. Absent when the
  // zone cannot tell.
  std::optional<Instant> instantFor(
      const LocalDateTime& local,
      SkippedTime skipped = SkippedTime::kShiftedByGap) const;
};

// UTC, and the system zone: the one TZ names, else /etc/localtime. A TZ
// that names something other than a zone file (a FIFO, a folder) is
// replaced by UTC when the program starts (store/zones/system_zone.cpp).
std::shared_ptr<const TimeZone> utcTimeZone();
std::shared_ptr<const TimeZone> systemTimeZone();

struct DueDateComponents {
  int year = 0, month = 0, day = 0;
  std::optional<int> hour, minute, second;   // all absent for a date alone
  std::shared_ptr<const TimeZone> timeZone;  // null: none of its own
  bool hasCalendar = true;                   // Gregorian
};

// The instant the components stand for: missing time fields count as 0,
// the components' own zone is used, else the system zone. Absent without
// a calendar, for an impossible date, or where the zone cannot tell.
std::optional<Instant> resolveComponents(const DueDateComponents& components);

}  // namespace corvane
