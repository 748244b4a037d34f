#include "store/ical/component_tree.h"

namespace corvane {

ComponentKind ComponentTree::kindOf(std::size_t index) const {
  const std::string& name = components[index].name;
  if (name == "VCALENDAR") return ComponentKind::kCalendar;
  if (name == "VTODO") return ComponentKind::kTodo;
  return ComponentKind::kOther;
}

namespace {

// The one walk of both readings; `strict` refuses what does not pair up,
// otherwise an END closes the innermost open component whatever it names.
std::optional<ComponentTree> walk(const std::vector<ContentLine>& lines,
                                  bool strict) {
  ComponentTree tree;
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::optional<Property> property = parseProperty(lines[i].unfolded);
    if (!property) {
      // libical opens or closes a component on a BEGIN or END line even
      // without a value, so the reminder's extent would be unclear.
      if (strict && isComponentBoundary(lines[i].unfolded)) return std::nullopt;
      continue;
    }
    if (equalsIgnoringCase(property->name, "BEGIN")) {
      std::size_t index = tree.components.size();
      TextComponent& component = tree.components.emplace_back();
      component.name = componentName(property->value);
      component.beginLine = i;
      (open.empty() ? tree.topLevel : tree.components[open.back()].children)
          .push_back(index);
      open.push_back(index);
    } else if (equalsIgnoringCase(property->name, "END")) {
      if (open.empty()) {
        if (strict) return std::nullopt;
        continue;
      }
      if (strict &&
          tree.components[open.back()].name != componentName(property->value)) {
        return std::nullopt;
      }
      tree.components[open.back()].endLine = i;
      open.pop_back();
    } else if (!open.empty()) {
      TextComponent& component = tree.components[open.back()];
      component.properties.push_back(i);
      if (equalsIgnoringCase(property->name, "RECURRENCE-ID")) {
        component.hasRecurrenceId = true;
      }
    }
  }
  return tree;
}

}  // namespace

std::optional<ComponentTree> readComponentTree(
    const std::vector<ContentLine>& lines) {
  return walk(lines, true);
}

ComponentTree readComponentTreeLeniently(
    const std::vector<ContentLine>& lines) {
  return *walk(lines, false);
}

}  // namespace corvane
