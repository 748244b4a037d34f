#include "store/ical/other_items.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/ical/content_line.h"
#include "store/ical/reminder_todo.h"

namespace corvane {
namespace {

struct Component {
  std::string kind;
  std::optional<std::string> uid;
  bool hasRecurrenceId = false;
  std::vector<std::size_t> children;  // a VCALENDAR's, by index
};

// The components at the calendar's level: children of a VCALENDAR, or
// components standing outside any (libical reads those too); and the
// VCALENDARs themselves, so that the reminder is chosen as a reader
// chooses it. Read leniently: a delete must count what a damaged file
// holds too.
struct CalendarComponents {
  std::vector<Component> all;
  std::vector<std::size_t> topLevel;

  ComponentKind kindOf(std::size_t i) const {
    if (all[i].kind == "VCALENDAR") return ComponentKind::kCalendar;
    if (all[i].kind == "VTODO") return ComponentKind::kTodo;
    return ComponentKind::kOther;
  }
  bool isOverride(std::size_t i) const { return all[i].hasRecurrenceId; }
  const std::vector<std::size_t>& childrenOf(std::size_t i) const {
    return all[i].children;
  }
};

CalendarComponents calendarComponents(std::string_view text) {
  CalendarComponents found;
  std::vector<std::string> open;  // names of the components we are inside
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t current = kNone;   // the calendar-level one we are in
  std::size_t calendar = kNone;  // the top-level VCALENDAR we are in
  for (const ContentLine& line : splitContentLines(text).lines) {
    std::optional<Property> property = parseProperty(line.unfolded);
    if (!property) continue;
    if (equalsIgnoringCase(property->name, "BEGIN")) {
      std::string name = componentName(property->value);
      bool inCalendar = open.size() == 1 && open.front() == "VCALENDAR";
      if (open.empty() || (inCalendar && name != "VCALENDAR")) {
        std::size_t index = found.all.size();
        found.all.push_back(Component{name, std::nullopt, false, {}});
        if (open.empty()) {
          found.topLevel.push_back(index);
          if (name == "VCALENDAR") calendar = index;
        } else {
          found.all[calendar].children.push_back(index);
        }
        if (name != "VCALENDAR") current = index;
      }
      open.push_back(std::move(name));
    } else if (equalsIgnoringCase(property->name, "END")) {
      if (!open.empty()) open.pop_back();
      if (open.empty() || (open.size() == 1 && open.front() == "VCALENDAR"))
        current = kNone;
    } else if (current != kNone && !open.empty() &&
               open.back() == found.all[current].kind) {
      // The component's own lines, not those of its alarms.
      Component& component = found.all[current];
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
  CalendarComponents components = calendarComponents(calendarText);
  std::optional<std::size_t> reminder =
      reminderTodo(components.topLevel, components);
  std::optional<std::string> series;
  if (reminder) series = components.all[*reminder].uid;

  std::set<std::pair<std::string, std::string>> withUid;
  std::size_t withoutUid = 0;
  for (std::size_t i = 0; i < components.all.size(); ++i) {
    const Component& component = components.all[i];
    if (i == reminder || component.kind == "VTIMEZONE" ||
        component.kind == "VCALENDAR")
      continue;
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
