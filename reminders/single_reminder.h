// The commands on one reminder, found by its identifier: show it, set its
// completion, delete it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "reminders/reminder_record.h"
#include "store/reminder_store.h"
#include "store/result.h"

namespace corvane {

// The reminder's record, or "Reminder not found". `now` is the current
// time (see makeReminderRecord).
Result<nlohmann::ordered_json> getReminder(ReminderStore& store,
                                           const std::string& reminderId,
                                           const RecurrenceDescriber& describe,
                                           Instant now);

// Sets the completion to `completed` (whatever it was) and saves at once.
// Fails with "Reminder not found" or "Error updating reminder: <reason>".
Outcome toggleReminder(ReminderStore& store, const std::string& reminderId,
                       bool completed);

// Removes the reminder at once. Fails with "Reminder not found" or
// "Error deleting reminder: <reason>".
Outcome deleteReminder(ReminderStore& store, const std::string& reminderId);

}  // namespace corvane
