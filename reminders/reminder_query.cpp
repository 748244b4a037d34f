#include "reminders/reminder_query.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <mutex>

#include "reminders/reminder_order.h"
#include "store/due_date.h"
#include "store/system/share_among_cores.h"

namespace corvane {
namespace {

using Records = nlohmann::ordered_json::array_t;

// The records of `kept`, in its order. A query of thousands of reminders
// spends about as long on their records as on reading the files, so the
// work is shared among the machine's cores. Rethrows what a worker could
// not finish (out of memory), once every worker has stopped.
Records recordsOf(const std::vector<ReminderPtr>& kept,
                  const RecurrenceDescriber& describe, Instant now) {
  constexpr size_t kLeastPerWorker = 256;
  Records records(kept.size());
  std::mutex failedLock;
  std::exception_ptr failure;
  shareAmongCores(kept.size(), kLeastPerWorker, [&](NextIndex& next) {
    try {
      for (size_t i; next.take(i);)
        records[i] = makeReminderRecord(*kept[i], describe, now);
    } catch (...) {
      next.stop();
      std::lock_guard lock(failedLock);
      if (!failure) failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);
  return records;
}

// The completion step shared by both queries: filter, sort, then build a
// record for each reminder that is printed, and only for those.
FetchCompletion deliverReminders(std::string completionStatus,
                                 std::string sortBy, bool dueOnly,
                                 RecurrenceDescriber describe, Instant now,
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
      auto kept =
          filterAndSort(std::move(*reminders), completionStatus, sortBy);
      records = nlohmann::ordered_json::array();
      records->get_ref<Records&>() = recordsOf(kept, describe, now);
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
                        const RecurrenceDescriber& describe, Instant now,
                        const QueryAnswer& answer) {
  auto list = store.listWithIdentifier(listId);
  if (!list) {
    // A list whose store did not answer is not a list that is not there.
    answer(list.kind() == FailureKind::kNotFound
               ? Failure{"List not found with ID: " + listId}
               : Failure{"Unable to fetch reminders"});
    return;
  }
  ReminderQuery query;
  query.listIdentifiers = std::vector<std::string>{list.value().identifier};
  store.fetchReminders(query, deliverReminders(completionStatus, sortBy, false,
                                               describe, now, answer));
}

void getRemindersInSpecialList(ReminderStore& store, const std::string& listId,
                               const std::string& completionStatus,
                               const std::string& sortBy,
                               const RecurrenceDescriber& describe, Instant now,
                               const QueryAnswer& answer) {
  ReminderQuery query;
  if (listId == "today") {
    query.incompleteDueOnly = true;
    query.dueEnding = endOfDay(now);
  } else if (listId == "scheduled") {
    query.dueDateOnly = true;
  } else {
    answer(Failure{"Invalid special list ID. Use 'today' or 'scheduled'."});
    return;
  }
  store.fetchReminders(
      query, deliverReminders(completionStatus, sortBy, listId == "scheduled",
                              describe, now, answer));
}

std::optional<Instant> endOfDay(Instant instant) {
  using namespace std::chrono;
  auto zone = systemTimeZone();
  std::optional<seconds> offset = zone->offsetAt(instant);
  if (!offset) return std::nullopt;
  const year_month_day today{floor<days>(instant + *offset)};
  // The day's start is no later than its 23:59:59, so that is the first
  // after the start; where the clocks skip it, the day ends at the jump.
  return zone->instantFor({static_cast<int>(today.year()),
                           static_cast<int>(unsigned{today.month()}),
                           static_cast<int>(unsigned{today.day()}), 23, 59, 59},
                          SkippedTime::kNextTime);
}

}  // namespace corvane
