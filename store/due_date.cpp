#include "store/due_date.h"

#include <chrono>

namespace corvane {
namespace {

bool isPossible(const LocalDateTime& t) {
  using namespace std::chrono;
  year_month_day date{year{t.year}, month{static_cast<unsigned>(t.month)},
                      day{static_cast<unsigned>(t.day)}};
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && date.ok() &&
         t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
         t.second >= 0 && t.second <= 60;
}

class Utc final : public TimeZone {
 public:
  std::optional<std::chrono::seconds> offsetAt(Instant) const override {
    return std::chrono::seconds{0};
  }
};

}  // namespace

std::shared_ptr<const TimeZone> utcTimeZone() {
  static const auto zone = std::make_shared<Utc>();
  return zone;
}

std::optional<Instant> resolveComponents(const DueDateComponents& c) {
  if (!c.hasCalendar) return std::nullopt;
  LocalDateTime local{c.year,
                      c.month,
                      c.day,
                      c.hour.value_or(0),
                      c.minute.value_or(0),
                      c.second.value_or(0)};
  if (!isPossible(local)) return std::nullopt;
  const auto& zone = c.timeZone ? c.timeZone : systemTimeZone();
  return zone->instantFor(local);
}

}  // namespace corvane
