#include "store/ical/other_items.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/ical/component_tree.h"
#include "store/ical/content_line.h"

namespace corvane {
namespace {

// The component's first UID among its own lines, not its alarms'.
std::optional<std::string> uidOf(const TextComponent& component,
                                 const std::vector<ContentLine>& lines) {
  for (std::size_t i : component.properties) {
    std::optional<Property> property = parseProperty(lines[i].unfolded);
    if (equalsIgnoringCase(property->name, "UID"))
      return std::string(property->value);
  }
  return std::nullopt;
}

}  // namespace

std::size_t countOtherItems(std::string_view calendarText) {
  ContentLines split = splitContentLines(calendarText);
  ComponentTree tree = readComponentTreeLeniently(split.lines);
  std::optional<std::size_t> reminder = tree.reminder();
  std::optional<std::string> series;
  if (reminder) series = uidOf(tree.components[*reminder], split.lines);

  // The components at the calendar's level: children of a VCALENDAR, or
  // components standing outside any (libical reads those too).
  std::vector<std::size_t> items;
  for (std::size_t top : tree.topLevel) {
    if (tree.kindOf(top) != ComponentKind::kCalendar)
      items.push_back(top);
    else
      items.insert(items.end(), tree.childrenOf(top).begin(),
                   tree.childrenOf(top).end());
  }
  std::set<std::pair<std::string, std::string>> withUid;
  std::size_t withoutUid = 0;
  for (std::size_t i : items) {
    const TextComponent& component = tree.components[i];
    if (i == reminder || component.name == "VTIMEZONE" ||
        component.name == "VCALENDAR")
      continue;
    std::optional<std::string> uid = uidOf(component, split.lines);
    if (component.name == "VTODO" && series && uid == series) continue;
    if (uid)
      withUid.emplace(component.name, *uid);
    else
      ++withoutUid;
  }
  return withUid.size() + withoutUid;
}

}  // namespace corvane
