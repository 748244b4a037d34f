#include "store/reminder_store.h"

namespace corvane {

bool matches(const Reminder& reminder, const ReminderQuery& query) {
  if (query.dueDateOnly && !reminder.dueDateComponents) return false;
  if (!query.incompleteDueOnly) return true;
  if (reminder.isCompleted || !reminder.dueDateComponents) return false;
  auto due = resolveComponents(*reminder.dueDateComponents);
  return due && (!query.dueEnding || *due <= *query.dueEnding);
}

std::string authorizationStatusText(int status) {
  switch (status) {
    case 0:
      return "notDetermined";
    case 1:
      return "restricted";
    case 2:
      return "denied";
    case 3:
      return "authorized";
    case 4:
      return "writeOnly";
    default:
      return "unknown";
  }
}

}  // namespace corvane
