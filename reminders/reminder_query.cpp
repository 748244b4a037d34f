#include "reminders/reminder_query.h"

#include <ctime>

#include "reminders/reminder_order.h"

namespace corvane {
namespace {

// The completion step shared by both queries: filter, sort, then build a
// record for each reminder that is printed, and only for those.
FetchCompletion deliverReminders(std::string completionStatus,
                                 std::string sortBy, bool dueOnly,
                                 RecurrenceDescriber describe,
                                 QueryAnswer answer) {
  return [=](std::optional<std::vector<ReminderPtr>> reminders) {
    if (!reminders) {
      answer(Failure{"Unable to fetch reminders"});
      return;
    }
    std::optional<nlohmann::ordered_json> records;
    try {
      if (dueOnly)
        std::erase_if(*reminders, [](const ReminderPtr& reminder) {
          return !reminder->dueDateComponents;
        });
      auto kept = filterAndSort(std::move(*reminders), completionStatus, sortBy);
      records = nlohmann::ordered_json::array();
      for (const auto& reminder : kept)
        records->push_back(makeReminderRecord(*reminder, describe));
    } catch (const std::exception&) {
      // Out of memory, most likely: the caller still gets its one answer.
      records.reset();
    }
    if (records)
      answer(std::move(*records));
    else
      answer(Failure{"Unable to fetch reminders"});
  };
}

}  // namespace

void getRemindersInList(ReminderStore& store, const std::string& listId,
                        const std::string& completionStatus,
                        const std::string& sortBy,
                        const RecurrenceDescriber& describe,
                        const QueryAnswer& answer) {
  auto list = store.listWithIdentifier(listId);
  if (!list) {
    answer(Failure{"List not found with ID: " + listId});
    return;
  }
  ReminderQuery query;
  query.listIdentifiers = std::vector<std::string>{list->identifier};
  store.fetchReminders(query, deliverReminders(completionStatus, sortBy, false,
                                               describe, answer));
}

void getRemindersInSpecialList(ReminderStore& store, const std::string& listId,
                               const std::string& completionStatus,
                               const std::string& sortBy,
                               const RecurrenceDescriber& describe,
                               const QueryAnswer& answer) {
  ReminderQuery query;
  if (listId == "today") {
    query.incompleteDueOnly = true;
    query.dueEnding = endOfDay(now());
  } else if (listId == "scheduled") {
    query.dueDateOnly = true;
  } else {
    answer(Failure{"Invalid special list ID. Use 'today' or 'scheduled'."});
    return;
  }
  store.fetchReminders(query, deliverReminders(completionStatus, sortBy,
                                               listId == "scheduled", describe,
                                               answer));
}

std::optional<Instant> endOfDay(Instant instant) {
  std::time_t seconds = instant.time_since_epoch().count();
  std::tm today{};
  if (!::localtime_r(&seconds, &today)) return std::nullopt;
  // Where a clock change repeats 23:59:59 the earlier instant is the end;
  // where it skips it, the first time after the gap is.
  std::optional<std::time_t> best;
  for (int isDst : {0, 1, -1}) {
    std::tm end = today;
    end.tm_hour = 23;
    end.tm_min = 59;
    end.tm_sec = 59;
    end.tm_isdst = isDst;
    std::time_t candidate = std::mktime(&end);
    std::tm shown{};
    if (candidate == static_cast<std::time_t>(-1) ||
        !::localtime_r(&candidate, &shown))
      continue;
    bool exact = shown.tm_hour == 23 && shown.tm_min == 59 &&
                 shown.tm_sec == 59 && shown.tm_mday == today.tm_mday;
    if (exact && (!best || candidate < *best)) best = candidate;
    if (isDst == -1 && !best) best = candidate;
  }
  if (!best) return std::nullopt;
  return Instant{std::chrono::seconds{*best}};
}

}  // namespace corvane
