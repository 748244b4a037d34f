#include "store/ical/recurrence_lines.h"

#include <array>

#include "store/ical/content_line.h"

namespace corvane {

std::string recurrenceLines(std::string_view calendarText) {
  static constexpr std::array<std::string_view, 6> kKept = {
      "DTSTART", "DUE", "RRULE", "RDATE", "EXDATE", "RECURRENCE-ID"};
  std::string kept;
  std::string buffer;
  ContentLineReader reader(calendarText, buffer);
  std::size_t depth = 0, zoneDepth = 0;  // zoneDepth: 0 outside a VTIMEZONE
  while (std::optional<ContentLineView> line = reader.next()) {
    std::optional<Property> property = parseProperty(line->unfolded);
    bool keep = !property || zoneDepth > 0;
    if (property && equalsIgnoringCase(property->name, "BEGIN")) {
      ++depth;
      if (zoneDepth == 0 && componentName(property->value) == "VTIMEZONE")
        zoneDepth = depth;
      keep = true;
    } else if (property && equalsIgnoringCase(property->name, "END")) {
      if (depth == zoneDepth) zoneDepth = 0;
      if (depth > 0) --depth;
      keep = true;
    }
    for (std::string_view name : kKept)
      keep = keep || equalsIgnoringCase(property->name, name);
    if (keep)
      kept.append(calendarText.substr(line->begin, line->end - line->begin));
  }
  return kept;
}

}  // namespace corvane
