// Reading one item: the quick reader against libical on the kinds of file
// a store holds, and the pre-check that lets a query skip a file.
#include <benchmark/benchmark.h>

#include <string>

#include "store/ical/item_parser.h"
#include "store/ical/item_scanner.h"

namespace corvane {
namespace {

const std::string kTodoman =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:io.barrera.todoman\r\n"
    "BEGIN:VTODO\r\nCREATED;VALUE=DATE-TIME:20260301T081500Z\r\n"
    "DTSTAMP;VALUE=DATE-TIME:20260301T081500Z\r\n"
    "DUE;VALUE=DATE-TIME:20260305T093000Z\r\n"
    "LAST-MODIFIED;VALUE=DATE-TIME:20260302T101112Z\r\nPRIORITY:1\r\n"
    "SEQUENCE:1\r\nSTATUS:NEEDS-ACTION\r\nSUMMARY:Renew passport\r\n"
    "UID:4c1b5d2e1f@laptop\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

const std::string kNextcloud =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Nextcloud Tasks v0.15.0\r\n"
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:DAYLIGHT\r\n"
    "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nTZNAME:CEST\r\n"
    "DTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
    "END:DAYLIGHT\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+"
    "0100\r\n"
    "TZNAME:CET\r\nDTSTART:19701025T030000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:"
    "VTIMEZONE\r\n"
    "BEGIN:VTODO\r\nCREATED:20260110T033302Z\r\nDTSTAMP:20260427T165048Z\r\n"
    "LAST-MODIFIED:20260427T165048Z\r\nUID:87135E89-F22C-4B32-8C3A-"
    "58A82EC842A9\r\n"
    "SUMMARY:Wöchentliche Besprechung\r\nDESCRIPTION:Agenda im Wiki\\, Raum "
    "4\\n"
    "Bitte "
    "vorbereiten.\r\nPRIORITY:5\r\nDUE;TZID=Europe/Berlin:20260729T110000\r\n"
    "DTSTART;TZID=Europe/Berlin:20260729T110000\r\n"
    "RRULE:FREQ=WEEKLY;BYDAY=MO,WE,FR;INTERVAL=2\r\nSTATUS:NEEDS-ACTION\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;RELATED=END:-PT15M\r\n"
    "DESCRIPTION:Reminder\r\nEND:VALARM\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

const std::string kUndated =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Apple Inc.//iOS 17.0//EN\r\n"
    "BEGIN:VTODO\r\nCREATED:20250110T033302Z\r\nDTSTAMP:20250427T165048Z\r\n"
    "UID:5E1B-22\r\nSUMMARY:Someday: learn the cello\r\n"
    "X-APPLE-SORT-ORDER:737382919\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

const std::string* const kFiles[] = {&kTodoman, &kNextcloud, &kUndated};

void BM_ScanReminder(benchmark::State& state) {
  const std::string& text = *kFiles[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(scanReminder(text));
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_ScanReminder)->DenseRange(0, 2);

void BM_ParseReminderWithLibical(benchmark::State& state) {
  const std::string& text = *kFiles[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(parseReminderWithLibical(text));
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_ParseReminderWithLibical)->DenseRange(0, 2);

void BM_MayHaveDueDate(benchmark::State& state) {
  const std::string& text = *kFiles[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(mayHaveDueDate(text));
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_MayHaveDueDate)->DenseRange(0, 2);

void BM_ResolveDueDate(benchmark::State& state) {
  auto reminder = parseReminder(*kFiles[state.range(0)]);
  if (!reminder || !reminder->dueDateComponents) {
    state.SkipWithError("no due date");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(resolveComponents(*reminder->dueDateComponents));
}
BENCHMARK(BM_ResolveDueDate)->DenseRange(0, 1);

}  // namespace
}  // namespace corvane
