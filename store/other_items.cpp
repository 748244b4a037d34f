#include "store/other_items.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/content_line.h"

namespace corvane {
namespace {

struct Component {
  std::string kind;
  std::optional<std::string> uid;
  bool hasRecurrenceId = false;
};

// The components at the calendar's level: children of a VCALENDAR, or
// components standing outside any (libical reads those too).
std::vector<Component> calendarComponents(std::string_view text) {
  std::vector<Component> found;
  std::vector<std::string> open;  // names of the components we are inside
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t current = kNone;  // the calendar-level one we are in
  for (const ContentLine& line : splitContentLines(text).lines) {
    std::optional<Property> property = parseProperty(line.unfolded);
    if (!property) continue;
    if (equalsIgnoringCase(property->name, "BEGIN")) {
      std::string name = componentName(property->value);
      bool calendarLevel =
          name != "VCALENDAR" &&
          (open.empty() || (open.size() == 1 && open.front() == "VCALENDAR"));
      if (calendarLevel) {
        current = found.size();
        found.push_back(Component{name, std::nullopt, false});
      }
      open.push_back(std::move(name));
    } else if (equalsIgnoringCase(property->name, "END")) {
      if (!open.empty()) open.pop_back();
      if (open.empty() || (open.size() == 1 && open.front() == "VCALENDAR"))
        current = kNone;
    } else if (current != kNone && !open.empty() &&
               open.back() == found[current].kind) {
      // The component's own lines, not those of its alarms.
      Component& component = found[current];
      if (equalsIgnoringCase(property->name, "UID") && !component.uid)
        component.uid = std::string(property->value);
      else if (equalsIgnoringCase(property->name, "RECURRENCE-ID"))
        component.hasRecurrenceId = true;
    }
  }
  return found;
}

}  // namespace

std::size_t countOtherItems(std::string_view calendarText) {
  std::vector<Component> components = calendarComponents(calendarText);
  std::optional<std::size_t> reminder;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (components[i].kind != "VTODO") continue;
    if (!reminder) reminder = i;
    if (!components[i].hasRecurrenceId) {
      reminder = i;
      break;
    }
  }
  std::optional<std::string> series;
  if (reminder) series = components[*reminder].uid;

  std::set<std::pair<std::string, std::string>> withUid;
  std::size_t withoutUid = 0;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const Component& component = components[i];
    if (i == reminder || component.kind == "VTIMEZONE") continue;
    if (component.kind == "VTODO" && series && component.uid == series)
      continue;
    if (component.uid)
      withUid.emplace(component.kind, *component.uid);
    else
      ++withoutUid;
  }
  return withUid.size() + withoutUid;
}

}  // namespace corvane
