// The two queries that print arrays of reminder records: the reminders of
// one list, and the smart lists "today" and "scheduled".
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "reminders/reminder_record.h"
#include "store/reminder_store.h"
#include "store/result.h"

namespace corvane {

// Receives a query's answer exactly once: the array of records, or the
// message of its failure. The answer is handed over, not shared: at 10,000
// reminders a copy of the records costs as much as building them.
using QueryAnswer = std::function<void(Result<nlohmann::ordered_json>)>;

// Answers at once on the calling thread when the list does not exist;
// otherwise from the store's fetch thread. `now` is the current time (see
// makeReminderRecord).
void getRemindersInList(ReminderStore& store, const std::string& listId,
                        const std::string& completionStatus,
                        const std::string& sortBy,
                        const RecurrenceDescriber& describe, Instant now,
                        const QueryAnswer& answer);

// Answers at once when `listId` is neither "today" nor "scheduled". `now`
// is the current time, whose local day "today" ends with.
void getRemindersInSpecialList(ReminderStore& store, const std::string& listId,
                               const std::string& completionStatus,
                               const std::string& sortBy,
                               const RecurrenceDescriber& describe, Instant now,
                               const QueryAnswer& answer);

// The first instant at or after the start of the local day that holds
// `instant` whose local time is 23:59:59, in the system time zone; where
// the clocks skip that time, the first instant after the jump.
std::optional<Instant> endOfDay(Instant instant);

}  // namespace corvane
