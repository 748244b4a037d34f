#include "store/ical/item_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "tests/builders.h"
#include "tests/calendar_text.h"
#include "tests/scoped_environment.h"
#include "tests/utc_text.h"

namespace corvane {
namespace {

std::string dueText(const Reminder& reminder) {
  if (!reminder.dueDateComponents) return "no due date";
  return utcText(resolveComponents(*reminder.dueDateComponents));
}

Reminder parsed(const std::string& text) {
  auto reminder = parseReminder(text);
  EXPECT_TRUE(reminder.has_value()) << text;
  return reminder.value_or(Reminder{});
}

// What todoman writes for a new reminder.
const std::string kTodomanFile =
    "BEGIN:VCALENDAR\r\n"
    "VERSION:2.0\r\n"
    "PRODID:io.barrera.todoman\r\n"
    "BEGIN:VTODO\r\n"
    "CREATED:20240301T081500Z\r\n"
    "DTSTAMP:20240301T081500Z\r\n"
    "DUE;VALUE=DATE-TIME:20240305T093000Z\r\n"
    "LAST-MODIFIED:20240302T101112Z\r\n"
    "PRIORITY:1\r\n"
    "SEQUENCE:1\r\n"
    "STATUS:NEEDS-ACTION\r\n"
    "SUMMARY:Renew passport\r\n"
    "DESCRIPTION:Bring two photos\r\n"
    "UID:4c1b5d2e1f@laptop\r\n"
    "END:VTODO\r\n"
    "END:VCALENDAR\r\n";

TEST(ItemParserTest, ReadsTodomanReminder) {
  Reminder reminder = parsed(kTodomanFile);
  EXPECT_EQ(reminder.title, "Renew passport");
  EXPECT_EQ(reminder.notes, "Bring two photos");
  EXPECT_FALSE(reminder.isCompleted);
  EXPECT_EQ(reminder.priority, 1);
  EXPECT_FALSE(reminder.hasAlarms);
  EXPECT_FALSE(reminder.hasRecurrenceRules());
  EXPECT_EQ(utcText(reminder.creationDate), "2024-03-01T08:15:00Z");
  EXPECT_EQ(utcText(reminder.lastModifiedDate), "2024-03-02T10:11:12Z");
  ASSERT_TRUE(reminder.dueDateComponents);
  const DueDateComponents& due = *reminder.dueDateComponents;
  EXPECT_EQ(due.year, 2024);
  EXPECT_EQ(due.month, 3);
  EXPECT_EQ(due.day, 5);
  EXPECT_EQ(due.hour, 9);
  EXPECT_EQ(due.minute, 30);
  EXPECT_EQ(due.second, 0);
  EXPECT_TRUE(due.hasCalendar);
  EXPECT_EQ(dueText(reminder), "2024-03-05T09:30:00Z");
  // The parser leaves identifiers to the store.
  EXPECT_EQ(reminder.identifier, "");
  EXPECT_EQ(reminder.calendarIdentifier, "");
}

TEST(ItemParserTest, CompletionFromStatusOrCompletedDate) {
  struct Case {
    std::string properties;
    bool completed;
  } cases[] = {
      {"STATUS:NEEDS-ACTION\r\n", false},
      {"STATUS:IN-PROCESS\r\n", false},
      {"", false},
      {"STATUS:COMPLETED\r\n", true},
      {"STATUS:CANCELLED\r\n", true},
      {"COMPLETED:20240304T100000Z\r\n", true},
      {"STATUS:NEEDS-ACTION\r\nCOMPLETED:20240304T100000Z\r\n", true},
      {"PERCENT-COMPLETE:100\r\n", false},
  };
  for (const auto& c : cases) {
    Reminder reminder =
        parsed(calendarText(stampedTodo("SUMMARY:x\r\n" + c.properties)));
    EXPECT_EQ(reminder.isCompleted, c.completed) << c.properties;
  }
}

TEST(ItemParserTest, PriorityKeptAsWritten) {
  struct Case {
    std::string properties;
    int priority;
  } cases[] = {
      {"PRIORITY:0\r\n", 0},    {"PRIORITY:9\r\n", 9},
      {"PRIORITY:5\r\n", 5},    {"", 0},
      {"PRIORITY:42\r\n", 42},   // out of range, still unchanged
      {"PRIORITY:high\r\n", 0},  // not a number: as if absent
  };
  for (const auto& c : cases) {
    Reminder reminder =
        parsed(calendarText(stampedTodo("SUMMARY:x\r\n" + c.properties)));
    EXPECT_EQ(reminder.priority, c.priority) << c.properties;
  }
}

TEST(ItemParserTest, AlarmsFromValarm) {
  const std::string alarm =
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:x\r\n"
      "TRIGGER:-PT15M\r\nEND:VALARM\r\n";
  EXPECT_TRUE(
      parsed(calendarText(stampedTodo("SUMMARY:x\r\n" + alarm))).hasAlarms);
  EXPECT_FALSE(parsed(calendarText(stampedTodo("SUMMARY:x\r\n"))).hasAlarms);
  // An alarm of an overridden occurrence is not the reminder's own.
  const std::string file =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
      "BEGIN:VTODO\r\nUID:r\r\nRRULE:FREQ=DAILY\r\nSUMMARY:x\r\nEND:VTODO\r\n"
      "BEGIN:VTODO\r\nUID:r\r\nRECURRENCE-ID:20240312T090000Z\r\n" +
      alarm + "END:VTODO\r\nEND:VCALENDAR\r\n";
  EXPECT_FALSE(parsed(file).hasAlarms);
}

TEST(ItemParserTest, FrequencyOfEveryKind) {
  struct Case {
    std::string freq;
    int frequency;
  } cases[] = {
      {"DAILY", 0},
      {"WEEKLY", 1},
      {"MONTHLY", 2},
      {"YEARLY", 3},
      {"HOURLY", kFrequencyHourly},
      {"MINUTELY", kFrequencyMinutely},
      {"SECONDLY", kFrequencySecondly},
  };
  for (const auto& c : cases) {
    Reminder reminder = parsed(calendarText(
        stampedTodo("SUMMARY:x\r\nRRULE:FREQ=" + c.freq + "\r\n")));
    ASSERT_EQ(reminder.recurrenceRules.size(), 1u) << c.freq;
    const RecurrenceRule& rule = reminder.recurrenceRules[0];
    EXPECT_EQ(rule.frequency, c.frequency) << c.freq;
    EXPECT_EQ(rule.interval, 1) << c.freq;
    EXPECT_FALSE(rule.daysOfTheWeek) << c.freq;
    EXPECT_FALSE(rule.daysOfTheMonth) << c.freq;
    EXPECT_FALSE(rule.monthsOfTheYear) << c.freq;
    EXPECT_FALSE(rule.recurrenceEnd) << c.freq;
  }
  // The three sub-daily frequencies must stay distinct from 0..3.
  for (int other : {kFrequencyHourly, kFrequencyMinutely, kFrequencySecondly})
    EXPECT_TRUE(other < 0 || other > 3) << other;
}

TEST(ItemParserTest, RuleParts) {
  Reminder reminder = parsed(calendarText(
      stampedTodo("SUMMARY:x\r\n"
                  "RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=1MO,-1FR,SU,SA\r\n"
                  "RRULE:FREQ=MONTHLY;BYMONTHDAY=15,1,-1\r\n"
                  "RRULE:FREQ=YEARLY;INTERVAL=3;BYMONTH=12,6\r\n")));
  ASSERT_EQ(reminder.recurrenceRules.size(), 3u);

  const RecurrenceRule& weekly = reminder.recurrenceRules[0];
  EXPECT_EQ(weekly.frequency, 1);
  EXPECT_EQ(weekly.interval, 2);
  ASSERT_TRUE(weekly.daysOfTheWeek);
  // libical sorts the days by weekday; which day carries which week
  // number is what must survive.
  std::vector<std::pair<int, int>> days;
  for (const auto& day : *weekly.daysOfTheWeek)
    days.emplace_back(day.dayOfTheWeek, day.weekNumber);
  std::sort(days.begin(), days.end());
  EXPECT_EQ(days, (std::vector<std::pair<int, int>>{
                      {1, 0}, {2, 1}, {6, -1}, {7, 0}}));

  const RecurrenceRule& monthly = reminder.recurrenceRules[1];
  EXPECT_EQ(monthly.frequency, 2);
  EXPECT_EQ(monthly.interval, 1);
  EXPECT_EQ(monthly.daysOfTheMonth, (std::vector<std::int64_t>{15, 1, -1}));
  EXPECT_FALSE(monthly.daysOfTheWeek);

  const RecurrenceRule& yearly = reminder.recurrenceRules[2];
  EXPECT_EQ(yearly.frequency, 3);
  EXPECT_EQ(yearly.interval, 3);
  EXPECT_EQ(yearly.monthsOfTheYear, (std::vector<std::int64_t>{12, 6}));
}

TEST(ItemParserTest, RepeatedDaysAreKept) {
  Reminder reminder = parsed(
      calendarText(stampedTodo("SUMMARY:x\r\nRRULE:FREQ=WEEKLY;BYDAY=MO,MO\r\n"
                               "RRULE:FREQ=MONTHLY;BYMONTHDAY=15,15,1\r\n")));
  ASSERT_EQ(reminder.recurrenceRules.size(), 2u);
  ASSERT_TRUE(reminder.recurrenceRules[0].daysOfTheWeek);
  EXPECT_EQ(reminder.recurrenceRules[0].daysOfTheWeek->size(), 2u);
  EXPECT_EQ(reminder.recurrenceRules[1].daysOfTheMonth,
            (std::vector<std::int64_t>{15, 15, 1}));
}

TEST(ItemParserTest, EveryWeekdayName) {
  const char* names[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  for (int i = 0; i < 7; ++i) {
    Reminder reminder = parsed(calendarText(
        stampedTodo(std::string("SUMMARY:x\r\nRRULE:FREQ=WEEKLY;BYDAY=") +
                    names[i] + "\r\n")));
    ASSERT_EQ(reminder.recurrenceRules.size(), 1u) << names[i];
    ASSERT_TRUE(reminder.recurrenceRules[0].daysOfTheWeek) << names[i];
    EXPECT_EQ((*reminder.recurrenceRules[0].daysOfTheWeek)[0].dayOfTheWeek,
              i + 1)
        << names[i];
  }
}

TEST(ItemParserTest, RuleEnds) {
  ScopedTimeZone zone("Asia/Tokyo");
  struct Case {
    std::string rrule;
    std::string endDate;  // "absent" when none
    int count;
  } cases[] = {
      {"FREQ=DAILY;UNTIL=20240331T235959Z", "2024-03-31T23:59:59Z", 0},
      // A date alone ends at the start of that day where the user is.
      {"FREQ=DAILY;UNTIL=20240331", "2024-03-30T15:00:00Z", 0},
      {"FREQ=DAILY;COUNT=5", "absent", 5},
      {"FREQ=DAILY;COUNT=1", "absent", 1},
  };
  for (const auto& c : cases) {
    Reminder reminder = parsed(
        calendarText(stampedTodo("SUMMARY:x\r\nRRULE:" + c.rrule + "\r\n")));
    ASSERT_EQ(reminder.recurrenceRules.size(), 1u) << c.rrule;
    const auto& end = reminder.recurrenceRules[0].recurrenceEnd;
    ASSERT_TRUE(end) << c.rrule;
    EXPECT_EQ(utcText(end->endDate), c.endDate) << c.rrule;
    EXPECT_EQ(end->occurrenceCount, c.count) << c.rrule;
  }
}

TEST(ItemParserTest, RulesWithoutAFrequencyAreLeftOut) {
  const std::string rejected[] = {
      "RRULE:FREQ=FORTNIGHTLY\r\n",
      "RRULE:INTERVAL=2\r\n",
      "RRULE:\r\n",
  };
  for (const auto& rrule : rejected) {
    Reminder reminder =
        parsed(calendarText(stampedTodo("SUMMARY:still read\r\n" + rrule)));
    EXPECT_EQ(reminder.title, "still read") << rrule;
    EXPECT_FALSE(reminder.hasRecurrenceRules()) << rrule;
  }
  // A rule left out does not take the good one after it along.
  Reminder mixed = parsed(calendarText(stampedTodo(
      "SUMMARY:x\r\nRRULE:FREQ=FORTNIGHTLY\r\nRRULE:FREQ=MONTHLY\r\n")));
  ASSERT_EQ(mixed.recurrenceRules.size(), 1u);
  EXPECT_EQ(mixed.recurrenceRules[0].frequency, 2);
}

// A zone of the file's own: two hours east of UTC all year.
const std::string kMyZone =
    "BEGIN:VTIMEZONE\r\n"
    "TZID:My/Zone\r\n"
    "BEGIN:STANDARD\r\n"
    "DTSTART:19700101T000000\r\n"
    "TZOFFSETFROM:+0200\r\n"
    "TZOFFSETTO:+0200\r\n"
    "TZNAME:MYZ\r\n"
    "END:STANDARD\r\n"
    "END:VTIMEZONE\r\n";

TEST(ItemParserTest, DueDateZones) {
  ScopedTimeZone zone("America/New_York");
  struct Case {
    std::string due;
    std::string zones;
    std::string instant;
  } cases[] = {
      {"DUE;VALUE=DATE:20240305", "", "2024-03-05T05:00:00Z"},  // local day
      {"DUE:20240305T093000Z", "", "2024-03-05T09:30:00Z"},
      {"DUE;TZID=My/Zone:20240305T093000", kMyZone, "2024-03-05T07:30:00Z"},
      {"DUE;VALUE=DATE;TZID=My/Zone:20240305", kMyZone, "2024-03-04T22:00:00Z"},
      {"DUE;TZID=Europe/Berlin:20240305T093000", "", "2024-03-05T08:30:00Z"},
      {"DUE;TZID=Europe/Berlin:20240705T093000", "", "2024-07-05T07:30:00Z"},
      // Floating: the user's own zone.
      {"DUE:20240305T093000", "", "2024-03-05T14:30:00Z"},
      // A zone nobody knows counts as floating.
      {"DUE;TZID=Nowhere/Land:20240305T093000", "", "2024-03-05T14:30:00Z"},
  };
  for (const auto& c : cases) {
    Reminder reminder = parsed(
        calendarText(c.zones + stampedTodo("SUMMARY:x\r\n" + c.due + "\r\n")));
    EXPECT_EQ(dueText(reminder), c.instant) << c.due;
  }
}

TEST(ItemParserTest, FloatingDueFollowsSystemZone) {
  const std::string file =
      calendarText(stampedTodo("SUMMARY:x\r\nDUE:20240305T093000\r\n"));
  Reminder reminder = parsed(file);
  {
    ScopedTimeZone zone("Asia/Tokyo");
    EXPECT_EQ(dueText(reminder), "2024-03-05T00:30:00Z");
  }
  {
    ScopedTimeZone zone("UTC");
    EXPECT_EQ(dueText(reminder), "2024-03-05T09:30:00Z");
  }
}

TEST(ItemParserTest, DateAloneHasNoTimeOfDay) {
  Reminder reminder = parsed(
      calendarText(stampedTodo("SUMMARY:x\r\nDUE;VALUE=DATE:20240305\r\n")));
  ASSERT_TRUE(reminder.dueDateComponents);
  EXPECT_FALSE(reminder.dueDateComponents->hour);
  EXPECT_FALSE(reminder.dueDateComponents->minute);
  EXPECT_FALSE(reminder.dueDateComponents->second);
}

TEST(ItemParserTest, ImpossibleDueDateHasNoInstant) {
  for (const std::string due :
       {"DUE;VALUE=DATE:20240231", "DUE:20240231T100000Z",
        "DUE:20230229T100000"}) {
    auto reminder = parseReminder(
        calendarText(stampedTodo("SUMMARY:x\r\n" + due + "\r\n")));
    ASSERT_TRUE(reminder) << due;
    EXPECT_EQ(reminder->title, "x") << due;
    std::optional<Instant> instant;
    if (reminder->dueDateComponents)
      instant = resolveComponents(*reminder->dueDateComponents);
    EXPECT_EQ(utcText(instant), "absent") << due;
  }
}

TEST(ItemParserTest, ItemsThatAreNotRemindersAreAbsent) {
  const std::string event =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:e\r\n"
      "DTSTART:20240305T090000Z\r\nSUMMARY:Meeting\r\nEND:VEVENT\r\n"
      "END:VCALENDAR\r\n";
  const std::string journal =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VJOURNAL\r\nUID:j\r\n"
      "SUMMARY:Diary\r\nEND:VJOURNAL\r\nEND:VCALENDAR\r\n";
  EXPECT_FALSE(parseReminder(event));
  EXPECT_FALSE(parseReminder(journal));
}

TEST(ItemParserTest, UnreadableTextIsAbsent) {
  const std::string inputs[] = {
      "",
      std::string("\x00\xff\xfe\x01garbage\x80\x81", 14),
      std::string(4096, '\xff'),
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:Buy mi",
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:Buy milk\r\nDUE;VALUE=DA",
      "just some words\n",
  };
  for (const auto& input : inputs) {
    testing::internal::CaptureStderr();
    auto reminder = parseReminder(input);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(reminder) << input;
    EXPECT_EQ(errors, "") << input;
  }
}

TEST(ItemParserTest, MissingAndEmptyTexts) {
  Reminder bare = parsed(calendarText(stampedTodo("")));
  EXPECT_FALSE(bare.title);
  EXPECT_FALSE(bare.notes);
  EXPECT_FALSE(bare.dueDateComponents);
  EXPECT_FALSE(bare.creationDate);
  EXPECT_FALSE(bare.lastModifiedDate);

  Reminder empty =
      parsed(calendarText(stampedTodo("SUMMARY:x\r\nDESCRIPTION:\r\n")));
  EXPECT_EQ(empty.notes.value_or(""), "");
}

TEST(ItemParserTest, VeryLongDescription) {
  const std::string notes(5 << 20, 'n');
  Reminder reminder = parsed(
      calendarText(stampedTodo("SUMMARY:x\r\nDESCRIPTION:" + notes + "\r\n")));
  ASSERT_TRUE(reminder.notes);
  EXPECT_EQ(reminder.notes->size(), notes.size());
  EXPECT_EQ(*reminder.notes, notes);
}

TEST(ItemParserTest, InvalidUtf8BecomesReplacementCharacter) {
  Reminder reminder = parsed(calendarText(
      stampedTodo("SUMMARY:caf\xE9 \xFF!\r\nDESCRIPTION:ok \xC3\xA9\r\n")));
  EXPECT_EQ(reminder.title, "caf\xEF\xBF\xBD \xEF\xBF\xBD!");
  EXPECT_EQ(reminder.notes, "ok \xC3\xA9");
}

TEST(ItemParserTest, EscapedTextIsUnescaped) {
  Reminder reminder = parsed(calendarText(
      stampedTodo("SUMMARY:Milk\\, eggs\\; bread\r\nDESCRIPTION:a\\nb\r\n")));
  EXPECT_EQ(reminder.title, "Milk, eggs; bread");
  EXPECT_EQ(reminder.notes, "a\nb");
}

TEST(ItemParserTest, MasterChosenOverOverriddenOccurrence) {
  const std::string file =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
      "BEGIN:VTODO\r\nUID:r\r\nRECURRENCE-ID:20240312T090000Z\r\n"
      "SUMMARY:Moved occurrence\r\nSTATUS:COMPLETED\r\nPRIORITY:9\r\n"
      "DUE:20240313T090000Z\r\nEND:VTODO\r\n"
      "BEGIN:VTODO\r\nUID:r\r\nSUMMARY:Water plants\r\nPRIORITY:5\r\n"
      "DUE:20240305T090000Z\r\nRRULE:FREQ=WEEKLY\r\nEND:VTODO\r\n"
      "END:VCALENDAR\r\n";
  Reminder reminder = parsed(file);
  EXPECT_EQ(reminder.title, "Water plants");
  EXPECT_FALSE(reminder.isCompleted);
  EXPECT_EQ(reminder.priority, 5);
  EXPECT_EQ(dueText(reminder), "2024-03-05T09:00:00Z");
  EXPECT_EQ(reminder.recurrenceRules.size(), 1u);
}

TEST(ItemParserTest, LineEndsAndFolding) {
  const std::string lfOnly =
      "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VTODO\nUID:u\nSUMMARY:Plain ends\n"
      "DUE:20240305T093000Z\nEND:VTODO\nEND:VCALENDAR\n";
  Reminder plain = parsed(lfOnly);
  EXPECT_EQ(plain.title, "Plain ends");
  EXPECT_EQ(dueText(plain), "2024-03-05T09:30:00Z");

  Reminder folded = parsed(
      calendarText(stampedTodo("SUMMARY:A title that goes on\r\n  and on\r\n"
                               "DESCRIPTION:first \r\n\tsecond\r\n"
                               "RRULE:FREQ=WEEKLY;BY\r\n DAY=MO,WE\r\n")));
  EXPECT_EQ(folded.title, "A title that goes on and on");
  EXPECT_EQ(folded.notes, "first second");
  ASSERT_EQ(folded.recurrenceRules.size(), 1u);
  ASSERT_TRUE(folded.recurrenceRules[0].daysOfTheWeek);
  EXPECT_EQ(folded.recurrenceRules[0].daysOfTheWeek->size(), 2u);

  // A fold that splits a multi-byte character joins it up again.
  Reminder split =
      parsed(calendarText(stampedTodo("SUMMARY:caf\xC3\r\n \xA9\r\n")));
  EXPECT_EQ(split.title, "caf\xC3\xA9");
}

TEST(ItemParserTest, BareVtodoWithoutCalendar) {
  Reminder reminder =
      parsed("BEGIN:VTODO\r\nUID:b\r\nSUMMARY:Bare\r\nEND:VTODO\r\n");
  EXPECT_EQ(reminder.title, "Bare");
}

// A description on one line of several MiB, which libical alone reads in
// time that grows with the square of the line; the text must come through
// whole, non-ASCII bytes and escapes across the folding points included.
TEST(ItemParserTest, VeryLongLineKeepsItsTextThroughLibical) {
  std::string written, expected;
  for (int i = 0; i < 500000; ++i) {
    written += "\xc3\xa9\\, x";  // an escaped comma after a two-byte letter
    expected += "\xc3\xa9, x";
  }
  std::string file =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:long\r\n"
      "DESCRIPTION:" +
      written +
      "\r\nSUMMARY:after\r\nEND:VTODO\r\n"
      "END:VCALENDAR\r\n";
  auto reminder = parseReminderWithLibical(file);
  ASSERT_TRUE(reminder);
  EXPECT_TRUE(reminder->notes == expected);
  EXPECT_EQ(reminder->title, "after");
}

}  // namespace
}  // namespace corvane
