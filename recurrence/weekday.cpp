#include "recurrence/weekday.h"

#include <array>

namespace corvane {

namespace {

constexpr std::array<const char*, 7> kWeekdayNames = {
    "Sunday",   "Monday", "Tuesday", "Wednesday",
    "Thursday", "Friday", "Saturday"};

}  // namespace

std::string weekdayName(int weekday) {
  if (weekday < 1 || weekday > 7) return kUnknownWeekdayName;
  return kWeekdayNames[weekday - 1];
}

WeekdayOrder makeWeekdayOrder() {
  WeekdayOrder order;
  for (int weekday = 1; weekday <= 7; ++weekday)
    order.emplace(weekdayName(weekday), weekday - 1);
  return order;
}

}  // namespace corvane
