// One reminder as the store delivers it: read-only values, shared between
// a query's result and the store's own memory of what it has read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/due_date.h"
#include "store/instant.h"
#include "store/recurrence_rule.h"

namespace corvane {

struct Reminder {
  std::string identifier;          // "<account>/<list>/<file>"
  std::string calendarIdentifier;  // the holding list, "" for none
  std::optional<std::string> title;
  std::optional<std::string> notes;
  bool isCompleted = false;
  std::int64_t priority = 0;  // as the file gives it
  bool hasAlarms = false;
  std::vector<RecurrenceRule> recurrenceRules;  // in file order
  std::optional<Instant> creationDate;
  std::optional<Instant> lastModifiedDate;
  std::optional<DueDateComponents> dueDateComponents;

  bool hasRecurrenceRules() const { return !recurrenceRules.empty(); }
};

using ReminderPtr = std::shared_ptr<const Reminder>;

}  // namespace corvane
