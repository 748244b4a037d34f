// For tests: an instant as UTC text, written once for the unit and the
// end-to-end tests (a header alone: it needs nothing linked).
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

namespace corvane {

// strftime formats: "2024-03-05T09:30:00Z" as corvane prints an instant,
// "20240305T093000Z" as iCalendar writes one.
inline constexpr char kUtcPrinted[] = "%Y-%m-%dT%H:%M:%SZ";
inline constexpr char kUtcICalendar[] = "%Y%m%dT%H%M%SZ";

inline std::string utcText(std::chrono::sys_seconds instant,
                           const char* format = kUtcPrinted) {
  std::time_t seconds = instant.time_since_epoch().count();
  std::tm fields{};
  gmtime_r(&seconds, &fields);
  char text[32];
  std::strftime(text, sizeof text, format, &fields);
  return text;
}

// The instant as UTC text, or "absent"; readable in failure messages.
inline std::string utcText(std::optional<std::chrono::sys_seconds> instant) {
  return instant ? utcText(*instant) : "absent";
}

}  // namespace corvane
