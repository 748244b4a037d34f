#include "store/items/item_fetch.h"

#include <algorithm>

#include "store/ical/item_parser.h"

namespace corvane {

ReminderPtr reminderOf(std::string_view text, const std::string& listIdentifier,
                       std::string identifier) {
  auto reminder = parseReminder(text);
  if (!reminder) return nullptr;
  reminder->identifier = std::move(identifier);
  reminder->calendarIdentifier = listIdentifier;
  return std::make_shared<const Reminder>(std::move(*reminder));
}

bool fetchSkips(const Failure& failure, bool wholeList, bool listNamed) {
  if (wholeList && listNamed) return false;
  return failure.kind == FailureKind::kNotFound ||
         failure.kind == FailureKind::kDenied;
}

FetchVisitor::FetchVisitor(const ReminderQuery& query)
    : query_(query),
      // A query that only matches reminders with a due date need not parse
      // an item that cannot hold one: most of a large store's cost.
      dueDateOnly_(query.dueDateOnly || query.incompleteDueOnly) {}

bool FetchVisitor::wants(std::string_view text) const {
  return !dueDateOnly_ || mayHaveDueDate(text);
}

bool FetchVisitor::item(std::size_t position, std::string_view text,
                        const std::string& listIdentifier,
                        std::string reminderIdentifier) {
  if (stopped_) return false;
  try {
    ReminderPtr reminder =
        reminderOf(text, listIdentifier, std::move(reminderIdentifier));
    if (!reminder || !matches(*reminder, query_)) return true;
    std::lock_guard guard(mutex_);
    found_.emplace_back(position, std::move(reminder));
    return true;
  } catch (const std::exception&) {
    stopped_ = true;  // out of memory: the fetch as a whole fails
    return false;
  }
}

bool FetchVisitor::failed(const Failure& failure, bool wholeList) {
  if (fetchSkips(failure, wholeList, query_.listIdentifiers.has_value()))
    return true;
  stopped_ = true;
  return false;
}

std::vector<ReminderPtr> FetchVisitor::reminders() {
  std::lock_guard guard(mutex_);
  std::sort(found_.begin(), found_.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ReminderPtr> result;
  result.reserve(found_.size());
  for (auto& [position, reminder] : found_)
    result.push_back(std::move(reminder));
  return result;
}

}  // namespace corvane
