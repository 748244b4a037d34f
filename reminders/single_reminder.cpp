#include "reminders/single_reminder.h"

namespace corvane {
namespace {

const char kNotFound[] = "Reminder not found";

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
  ReminderPtr reminder = store.reminderWithIdentifier(reminderId);
  if (!reminder) return Failure{kNotFound};
  Outcome saved = store.setCompleted(*reminder, completed);
  if (!saved) return Failure{"Error updating reminder: " + saved.reason()};
  return done();
}

Outcome deleteReminder(ReminderStore& store, const std::string& reminderId) {
  ReminderPtr reminder = store.reminderWithIdentifier(reminderId);
  if (!reminder) return Failure{kNotFound};
  Outcome removed = store.removeReminder(*reminder);
  if (!removed) return Failure{"Error deleting reminder: " + removed.reason()};
  return done();
}

}  // namespace corvane
