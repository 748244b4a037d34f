// The one rule by which every zone turns a wall-clock time into an instant,
// from nothing but the zone's offsets.
#include <algorithm>
#include <chrono>

#include "store/due_date.h"

namespace corvane {

std::optional<Instant> TimeZone::instantFor(const LocalDateTime& t,
                                            SkippedTime skipped) const {
  using namespace std::chrono;
  const sys_seconds wall = sys_days{year{t.year} / t.month / t.day} +
                           hours{t.hour} + minutes{t.minute} +
                           seconds{t.second};
  // Offsets stay within a day of UTC and clock changes are further apart
  // than two days, so the offsets a little more than a day either side are
  // those before and after the one change, if any, that touches `wall`.
  const std::optional<seconds> before = offsetAt(wall - 26h);
  const std::optional<seconds> after = offsetAt(wall + 26h);
  if (!before || !after) return std::nullopt;
  if (*before == *after) return wall - *before;
  auto fits = [&](seconds offset) { return offsetAt(wall - offset) == offset; };
  const bool beforeFits = fits(*before), afterFits = fits(*after);
  if (beforeFits && afterFits)  // repeated: the first occurrence
    return std::min(wall - *before, wall - *after);
  if (afterFits) return wall - *after;
  if (beforeFits || skipped == SkippedTime::kShiftedByGap || *before > *after)
    return wall - *before;
  // Skipped, and the change itself is wanted: it lies after `wall` read
  // with the later offset and no later than `wall` read with the earlier.
  sys_seconds last = wall - *after, change = wall - *before;
  while (change - last > 1s) {
    sys_seconds middle = last + (change - last) / 2;
    (offsetAt(middle) == before ? last : change) = middle;
  }
  return change;
}

}  // namespace corvane
