// Building and printing records: what every reminder that a query prints
// costs after it has been read.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "app/json_writer.h"
#include "reminders/reminder_record.h"

namespace corvane {
namespace {

using namespace std::chrono;

Reminder sampleReminder(int number) {
  Reminder reminder;
  reminder.identifier = "fastmail/1FB17C23-90C1-42CF-93AC-94AF0F21DDB6/" +
                        std::to_string(number) + "-9BD7-4733-ADC6-AFFCC6E4E796";
  reminder.calendarIdentifier = "fastmail/1FB17C23-90C1-42CF-93AC-94AF0F21DDB6";
  reminder.title = "Order dentist groceries book";
  reminder.notes = "Список: хлеб, молоко, сыр.\nRemember to bring the receipt.";
  reminder.priority = 5;
  reminder.creationDate = sys_days{2025y / 1 / 15} + 1h + 38min;
  reminder.lastModifiedDate = sys_days{2025y / 6 / 25} + 18h;
  DueDateComponents due;
  due.year = 2026;
  due.month = 5;
  due.day = 18;
  due.hour = 9;
  due.minute = 30;
  due.second = 0;
  due.timeZone = utcTimeZone();
  reminder.dueDateComponents = due;
  return reminder;
}

const RecurrenceDescriber kNoRecurrence = [](const std::string&) {
  return std::optional<RecurrenceDescription>{};
};

void BM_MakeReminderRecord(benchmark::State& state) {
  Reminder reminder = sampleReminder(1);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        makeReminderRecord(reminder, kNoRecurrence, Instant{}));
}
BENCHMARK(BM_MakeReminderRecord);

void BM_FormatISODate(benchmark::State& state) {
  Instant instant = sys_days{2026y / 5 / 18} + 23h + 24min + 52s;
  for (auto _ : state) benchmark::DoNotOptimize(formatISODate(instant));
}
BENCHMARK(BM_FormatISODate);

void BM_WritePrettyJson(benchmark::State& state) {
  JsonValue records = JsonValue::array();
  for (int i = 0; i < state.range(0); ++i)
    records.push_back(
        makeReminderRecord(sampleReminder(i), kNoRecurrence, Instant{}));
  JsonValue envelope = JsonValue::object();
  envelope["success"] = true;
  envelope["data"] = std::move(records);
  // The pieces are counted, not kept, as standard output does not keep them.
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    bool written = writePrettyJson(envelope, [&bytes](std::string_view piece) {
      bytes += piece.size();
      benchmark::DoNotOptimize(piece.data());
    });
    benchmark::DoNotOptimize(written);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_WritePrettyJson)->Arg(1)->Arg(500);

}  // namespace
}  // namespace corvane

BENCHMARK_MAIN();
