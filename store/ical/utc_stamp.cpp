#include "store/ical/utc_stamp.h"

#include <chrono>
#include <cstdio>

namespace corvane {

std::string utcStamp(Instant t) {
  using namespace std::chrono;
  sys_days day = floor<days>(t);
  year_month_day date{day};
  hh_mm_ss<seconds> time{t - day};
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d%02u%02uT%02d%02d%02dZ",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace corvane
