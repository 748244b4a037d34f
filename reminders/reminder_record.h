// The JSON record by which corvane shows every reminder, and the date forms
// it uses.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "recurrence/recurrence_description.h"
#include "store/due_date.h"
#include "store/instant.h"
#include "store/reminder.h"

namespace corvane {

// Describes how the reminder with the given identifier repeats; absent when
// it cannot be found again.
using RecurrenceDescriber =
    std::function<std::optional<RecurrenceDescription>(const std::string&)>;

// "2024-03-05T14:07:09Z": UTC, no fraction of a second.
std::string formatISODate(Instant instant);

// The instant due-date components stand for (see resolveComponents).
std::optional<Instant> resolveDueDate(const DueDateComponents& components);

// The eleven keys always; "recurrenceDescription" and
// "recurrenceEndDetails" only as the describer gives them. A missing
// creation or modification date shows as `now`, the current time.
nlohmann::ordered_json makeReminderRecord(const Reminder& reminder,
                                          const RecurrenceDescriber& describe,
                                          Instant now);

}  // namespace corvane
