#include "reminders/single_reminder.h"

namespace corvane {
namespace {

const char kNotFound[] = "Reminder not found";

// The reminder a change is made to: one that is not there is "not found";
// one that is there but could not be read fails with the reason, after the
// change's own prefix.
Result<ReminderPtr> reminderToChange(ReminderStore& store,
                                     const std::string& reminderId,
                                     const std::string& prefix) {
  auto reminder = store.lookUpReminder(reminderId);
  if (reminder) return reminder;
  if (reminder.kind() == FailureKind::kNotFound) return Failure{kNotFound};
  return Failure{prefix + reminder.reason(), reminder.kind()};
}

}  // namespace

Result<nlohmann::ordered_json> getReminder(ReminderStore& store,
                                           const std::string& reminderId,
                                           const RecurrenceDescriber& describe,
                                           Instant now) {
  ReminderPtr reminder = store.reminderWithIdentifier(reminderId);
  if (!reminder) return Failure{kNotFound};
  return makeReminderRecord(*reminder, describe, now);
}

Outcome toggleReminder(ReminderStore& store, const std::string& reminderId,
                       bool completed) {
  const std::string prefix = "Error updating reminder: ";
  auto reminder = reminderToChange(store, reminderId, prefix);
  if (!reminder) return reminder.failure();
  Outcome saved = store.setCompleted(*reminder.value(), completed);
  if (!saved) return Failure{prefix + saved.reason(), saved.kind()};
  return done();
}

Outcome deleteReminder(ReminderStore& store, const std::string& reminderId) {
  const std::string prefix = "Error deleting reminder: ";
  auto reminder = reminderToChange(store, reminderId, prefix);
  if (!reminder) return reminder.failure();
  Outcome removed = store.removeReminder(*reminder.value());
  if (!removed) return Failure{prefix + removed.reason(), removed.kind()};
  return done();
}

}  // namespace corvane
