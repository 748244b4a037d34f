// The components of an iCalendar text as its content lines nest them, for
// the edits that change a reminder's own lines and keep every other byte:
// both choose the reminder's VTODO in this tree by the rule of
// store/ical/reminder_todo.h, as the readers do in theirs.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "store/ical/content_line.h"
#include "store/ical/reminder_todo.h"

namespace corvane {

// One component: where it begins and ends, by content line index.
struct TextComponent {
  std::string name;  // upper case, as componentName gives it
  std::size_t beginLine = 0;
  std::optional<std::size_t> endLine;   // absent when the text ends first
  std::vector<std::size_t> properties;  // its own lines, not its children's
  std::vector<std::size_t> children;    // indices into the tree's components
  bool hasRecurrenceId = false;
};

struct ComponentTree {
  std::vector<TextComponent> components;  // in the order they begin
  std::vector<std::size_t> topLevel;

  ComponentKind kindOf(std::size_t index) const;
  bool isOverride(std::size_t index) const {
    return components[index].hasRecurrenceId;
  }
  const std::vector<std::size_t>& childrenOf(std::size_t index) const {
    return components[index].children;
  }
  // The reminder's VTODO; absent when the text holds none.
  std::optional<std::size_t> reminder() const {
    return reminderTodo(topLevel, *this);
  }
};

// The components of the text split into `lines`, nested as libical nests
// them. Absent when BEGIN and END lines do not pair up, so that extents
// are unclear; a component the text ends inside has no endLine.
std::optional<ComponentTree> readComponentTree(
    const std::vector<ContentLine>& lines);

// The same, read leniently for the delete's count, which must count what a
// damaged text holds too: BEGIN and END lines without a value are passed
// over, and an END closes the innermost open component whatever it names.
ComponentTree readComponentTreeLeniently(const std::vector<ContentLine>& lines);

}  // namespace corvane
