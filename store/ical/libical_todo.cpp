#include "store/ical/libical_todo.h"

#include <optional>
#include <vector>

#include "store/ical/reminder_todo.h"

namespace corvane {
namespace {

// libical's tree as the rule that chooses the reminder's VTODO sees it.
struct LibicalTree {
  static ComponentKind kindOf(icalcomponent* component) {
    switch (icalcomponent_isa(component)) {
      case ICAL_VCALENDAR_COMPONENT:
        return ComponentKind::kCalendar;
      case ICAL_VTODO_COMPONENT:
        return ComponentKind::kTodo;
      default:
        return ComponentKind::kOther;
    }
  }
  static bool isOverride(icalcomponent* component) {
    return icalcomponent_get_first_property(
               component, ICAL_RECURRENCEID_PROPERTY) != nullptr;
  }
  static std::vector<icalcomponent*> childrenOf(icalcomponent* parent) {
    std::vector<icalcomponent*> children;
    for (icalcomponent* child =
             icalcomponent_get_first_component(parent, ICAL_ANY_COMPONENT);
         child;
         child = icalcomponent_get_next_component(parent, ICAL_ANY_COMPONENT))
      children.push_back(child);
    return children;
  }
};

}  // namespace

icalcomponent* reminderTodoOf(icalcomponent* root) {
  // libical gathers the components of a file with several under one root.
  std::vector<icalcomponent*> topLevel =
      icalcomponent_isa(root) == ICAL_XROOT_COMPONENT
          ? LibicalTree::childrenOf(root)
          : std::vector<icalcomponent*>{root};
  std::optional<icalcomponent*> todo = reminderTodo(topLevel, LibicalTree{});
  return todo ? *todo : nullptr;
}

}  // namespace corvane
