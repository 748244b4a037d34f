// Feeds arbitrary bytes through everything that reading an item file does:
// the calendar text becomes a reminder, the reminder a record, the record
// JSON text; and the completion edit of the same text must still read back
// as that reminder with the state asked for. Wherever the quick reader
// takes a text, its reminder must be libical's reading of it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "app/json_writer.h"
#include "recurrence/recurrence_description.h"
#include "recurrence/weekday.h"
#include "reminders/reminder_record.h"
#include "store/ical/completion_edit.h"
#include "store/ical/item_parser.h"
#include "store/ical/item_scanner.h"
#include "tests/reminder_reading.h"

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

// Floating times are read in the system zone: one with clock changes, as
// in the readers' unit tests, so that the two readings can differ there.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (std::optional<corvane::Reminder> quick = corvane::scanReminder(text)) {
    std::string read = corvane::describedReading(quick);
    std::string expected =
        corvane::describedReading(corvane::parseReminderWithLibical(text));
    if (read != expected)
      std::fprintf(stderr, "quick reader:\n%s\nlibical:\n%s\n", read.c_str(),
                   expected.c_str());
    require(read == expected);
  }
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
