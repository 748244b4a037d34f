#include "reminders/reminder_order.h"

#include <algorithm>
#include <optional>

#include "reminders/reminder_record.h"
#include "store/utf8.h"

namespace corvane {
namespace {

// Later first; a missing date after every present one.
bool isLater(const std::optional<Instant>& first,
             const std::optional<Instant>& second) {
  if (first && second) return *first > *second;
  return first.has_value() && !second.has_value();
}

// Earlier first; a missing instant after every present one.
bool isEarlier(const std::optional<Instant>& first,
               const std::optional<Instant>& second) {
  if (first && second) return *first < *second;
  return first.has_value() && !second.has_value();
}

std::optional<Instant> dueInstant(const Reminder& reminder) {
  if (!reminder.dueDateComponents) return std::nullopt;
  return resolveDueDate(*reminder.dueDateComponents);
}

// Sorts by a key computed once per reminder, so that no date is worked out
// again for every comparison.
template <class Key, class Before>
void sortByKey(std::vector<ReminderPtr>& reminders, Key key, Before before) {
  using Value = decltype(key(*reminders.front()));
  std::vector<std::pair<Value, ReminderPtr>> keyed;
  keyed.reserve(reminders.size());
  for (auto& reminder : reminders) keyed.emplace_back(key(*reminder), reminder);
  std::stable_sort(
      keyed.begin(), keyed.end(),
      [&](const auto& a, const auto& b) { return before(a.first, b.first); });
  for (size_t i = 0; i < keyed.size(); ++i)
    reminders[i] = std::move(keyed[i].second);
}

}  // namespace

bool matchesCompletionStatus(const Reminder& reminder,
                             const std::string& completionStatus) {
  std::string status = lowercasedAscii(completionStatus);
  if (status == "completed") return reminder.isCompleted;
  if (status == "incomplete") return !reminder.isCompleted;
  return true;
}

bool isModifiedLater(const Reminder& first, const Reminder& second) {
  return isLater(first.lastModifiedDate, second.lastModifiedDate);
}

bool isCreatedLater(const Reminder& first, const Reminder& second) {
  return isLater(first.creationDate, second.creationDate);
}

bool isDueEarlier(const Reminder& first, const Reminder& second) {
  return isEarlier(dueInstant(first), dueInstant(second));
}

std::vector<ReminderPtr> filterAndSort(std::vector<ReminderPtr> reminders,
                                       const std::string& completionStatus,
                                       const std::string& sortBy) {
  std::erase_if(reminders, [&](const ReminderPtr& reminder) {
    return !matchesCompletionStatus(*reminder, completionStatus);
  });
  if (reminders.empty()) return reminders;
  if (sortBy == "modified")
    sortByKey(
        reminders, [](const Reminder& r) { return r.lastModifiedDate; },
        isLater);
  else if (sortBy == "created")
    sortByKey(
        reminders, [](const Reminder& r) { return r.creationDate; }, isLater);
  else if (sortBy == "deadline")
    sortByKey(reminders, dueInstant, isEarlier);
  return reminders;
}

}  // namespace corvane
