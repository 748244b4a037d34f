// English weekday names and their order in a week that starts on Sunday.
// Weekday names never follow the user's locale.
#pragma once

#include <map>
#include <string>

namespace corvane {

// The name for a weekday number as the store gives it (1 Sunday ... 7
// Saturday); any other number is kUnknownWeekdayName.
std::string weekdayName(int weekday);

inline constexpr char kUnknownWeekdayName[] = "Unknown Day";

// Weekday name to its place in the week, Sunday 0 ... Saturday 6. Holds
// exactly the seven names weekdayName gives for 1 to 7.
using WeekdayOrder = std::map<std::string, int>;

WeekdayOrder makeWeekdayOrder();

}  // namespace corvane
