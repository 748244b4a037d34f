// The completion filter and the orders shared by every reminder query.
#pragma once

#include <string>
#include <vector>

#include "store/reminder.h"

namespace corvane {

// "completed" or "incomplete" in any case keeps those; anything else all.
bool matchesCompletionStatus(const Reminder& reminder,
                             const std::string& completionStatus);

// Whether the first reminder stands before the second. A missing date
// counts as earlier than every date for the two "later" orders and as
// later than every due instant for isDueEarlier.
bool isModifiedLater(const Reminder& first, const Reminder& second);
bool isCreatedLater(const Reminder& first, const Reminder& second);
bool isDueEarlier(const Reminder& first, const Reminder& second);

// Keeps the reminders that pass the completion filter and sorts them by
// "modified", "created" or "deadline" (exact words); any other key keeps
// the store's order. The sort is stable: equal reminders keep the store's
// order.
std::vector<ReminderPtr> filterAndSort(std::vector<ReminderPtr> reminders,
                                       const std::string& completionStatus,
                                       const std::string& sortBy);

}  // namespace corvane
