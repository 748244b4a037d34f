// Which VTODO of a calendar file is the reminder. The readers walk libical's
// tree or their own lines, the edits and the delete check the file's
// content lines; all of them choose by this one rule, so that what a query
// shows is what a change changes.
#pragma once

#include <optional>
#include <ranges>
#include <vector>

namespace corvane {

enum class ComponentKind { kCalendar, kTodo, kOther };

// Among sibling components in file order: the first VTODO that is not an
// overridden occurrence (has no RECURRENCE-ID), else the first VTODO, so
// that an occurrence kept without its series still is the reminder. The
// end of `siblings` when none is a VTODO.
template <std::ranges::forward_range Range, class IsTodo, class IsOverride>
auto mainTodo(const Range& siblings, IsTodo isTodo, IsOverride isOverride) {
  auto first = std::ranges::end(siblings);
  for (auto it = std::ranges::begin(siblings); it != std::ranges::end(siblings);
       ++it) {
    if (!isTodo(*it)) continue;
    if (!isOverride(*it)) return it;
    if (first == std::ranges::end(siblings)) first = it;
  }
  return first;
}

// The reminder's VTODO among a file's top-level components (one for a
// plain file; libical gathers several under one root): the main VTODO of
// the first VCALENDAR that holds one, else the main VTODO among the
// top-level components themselves. Absent when there is none.
//
// `tree` answers kindOf(node), isOverride(node) and childrenOf(node), the
// last as a std::vector of nodes in file order.
template <class Node, class Tree>
std::optional<Node> reminderTodo(const std::vector<Node>& topLevel,
                                 const Tree& tree) {
  auto isTodo = [&](const Node& node) {
    return tree.kindOf(node) == ComponentKind::kTodo;
  };
  auto isOverride = [&](const Node& node) { return tree.isOverride(node); };
  for (const Node& component : topLevel) {
    if (tree.kindOf(component) != ComponentKind::kCalendar) continue;
    std::vector<Node> children = tree.childrenOf(component);
    auto found = mainTodo(children, isTodo, isOverride);
    if (found != children.end()) return *found;
  }
  auto found = mainTodo(topLevel, isTodo, isOverride);
  if (found != topLevel.end()) return *found;
  return std::nullopt;
}

}  // namespace corvane
