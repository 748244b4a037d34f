// Feeds arbitrary bytes through everything that reading an item file does:
// the calendar text becomes a reminder, the reminder a record, the record
// JSON text; and the completion edit of the same text must still read back
// as that reminder with the state asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/json_writer.h"
#include "recurrence/recurrence_description.h"
#include "recurrence/weekday.h"
#include "reminders/reminder_record.h"
#include "store/ical/completion_edit.h"
#include "store/ical/item_parser.h"

namespace {

const corvane::WeekdayOrder& weekdayOrder() {
  static const corvane::WeekdayOrder order = corvane::makeWeekdayOrder();
  return order;
}

// A fault the sanitizers cannot see: the fuzzer stops on abort.
void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<corvane::Reminder> reminder = corvane::parseReminder(text);
  if (!reminder) return 0;
  reminder->identifier = "account/list/item";
  reminder->calendarIdentifier = "account/list";

  auto describe = [&](const std::string&) {
    return std::optional<corvane::RecurrenceDescription>(
        corvane::describeRecurrenceRules(reminder->recurrenceRules,
                                         weekdayOrder()));
  };
  corvane::JsonValue record =
      corvane::makeReminderRecord(*reminder, describe, corvane::Instant{});
  // Every text in a record has been repaired, so writing cannot fail.
  require(corvane::writePrettyJson(record).has_value());

  for (bool completed : {true, false}) {
    auto edited = corvane::withCompletion(text, completed, corvane::Instant{});
    if (!edited) continue;
    std::optional<corvane::Reminder> again =
        corvane::parseReminder(edited.value());
    require(again.has_value());
    require(again->isCompleted == completed);
  }
  return 0;
}
