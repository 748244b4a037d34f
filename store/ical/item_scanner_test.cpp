#include "store/ical/item_scanner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "store/ical/item_parser.h"
#include "tests/calendar_text.h"
#include "tests/reminder_reading.h"
#include "tests/scoped_environment.h"

namespace corvane {
namespace {

// Floating times are read in the system zone, so every test here runs in
// one with clock changes.
class ItemScannerTest : public testing::Test {
 protected:
  ScopedTimeZone zone_{"Europe/Berlin"};
};

// A VTIMEZONE that says "Europe/Berlin" but keeps its clocks at +05:00, so
// that taking the file's zone and taking the database's give other answers.
const std::string kOddBerlin =
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\n"
    "TZOFFSETFROM:+0500\r\nTZOFFSETTO:+0500\r\nTZNAME:ODD\r\n"
    "DTSTART:19700101T000000\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";

const std::string kNewYork =
    "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\n"
    "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nTZNAME:EDT\r\n"
    "DTSTART:19700308T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\n"
    "END:DAYLIGHT\r\n"
    "BEGIN:STANDARD\r\nTZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nTZNAME:EST\r\n"
    "DTSTART:19701101T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\n"
    "END:STANDARD\r\nEND:VTIMEZONE\r\n";

// Files as programs write them; the quick reader must read each one itself.
std::vector<std::string> plainFiles() {
  return {
      // todoman
      calendarText(stampedTodo(
          "CREATED;VALUE=DATE-TIME:20240301T081500Z\r\n"
          "DUE;VALUE=DATE-TIME:20240305T093000Z\r\n"
          "LAST-MODIFIED;VALUE=DATE-TIME:20240302T101112Z\r\n"
          "PRIORITY:1\r\nSEQUENCE:1\r\nSTATUS:NEEDS-ACTION\r\n"
          "SUMMARY:Renew passport\r\nDESCRIPTION:Bring two photos\r\n")),
      // Nextcloud through vdirsyncer: the file's own zone, an alarm
      calendarText(
          kNewYork +
          stampedTodo(
              "CREATED:20240301T081500Z\r\nLAST-MODIFIED:20240301T081500Z\r\n"
              "SUMMARY:Standup\r\nDUE;TZID=America/New_York:20240310T093000\r\n"
              "DTSTART;TZID=America/New_York:20240310T093000\r\n"
              "RRULE:FREQ=WEEKLY;BYDAY=FR,MO,WE\r\nPERCENT-COMPLETE:40\r\n"
              "STATUS:IN-PROCESS\r\nCATEGORIES:work,daily\r\n"
              "X-OC-HIDESUBTASKS:0\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
              "TRIGGER;RELATED=END:-PT15M\r\nDESCRIPTION:Reminder\r\n"
              "END:VALARM\r\n")),
      // a zone named but not carried, found in the time zone database
      calendarText(stampedTodo(
          "SUMMARY:Call Tokyo\r\nDUE;TZID=Asia/Tokyo:20241027T023000\r\n")),
      // the file's zone wins over the database's of the same name
      calendarText(kOddBerlin +
                   stampedTodo("SUMMARY:Odd zone\r\n"
                               "DUE;TZID=Europe/Berlin:20240705T120000\r\n")),
      // Apple: a date, long folded notes in several scripts, escapes
      calendarText(stampedTodo(
          "X-APPLE-SORT-ORDER:737382919\r\nDUE;VALUE=DATE:20240229\r\n"
          "SUMMARY:Milch\\, Brot und Käse kaufen\r\n"
          "DESCRIPTION:Список: хлеб\\; молоко.\\nSecond line with a "
          "back\\\\slash and a very long tail that goes on past seventy-"
          "fiv\r\n e octets so that it is folded\\N牛乳を買う\r\n"
          "PRIORITY:9\r\n")),
      // floating, impossible and far dates; completed three ways
      calendarText(
          stampedTodo("SUMMARY:Floating\r\nDUE:20241027T023000\r\n"
                      "STATUS:COMPLETED\r\nCOMPLETED:20241028T090000Z\r\n")),
      calendarText(
          stampedTodo("SUMMARY:Impossible\r\nDUE;VALUE=DATE:20240230\r\n"
                      "STATUS:CANCELLED\r\n")),
      calendarText(
          stampedTodo("SUMMARY:Done long ago\r\nDUE;VALUE=DATE:19990101\r\n"
                      "COMPLETED:19990102T000000Z\r\nPRIORITY:0\r\n")),
      // an overridden occurrence before and after its reminder
      calendarText(
          stampedTodo("SUMMARY:Changed occurrence\r\n"
                      "RECURRENCE-ID;VALUE=DATE:20240312\r\nDUE;VALUE=DATE:"
                      "20240313\r\n") +
          stampedTodo("SUMMARY:Weekly review\r\nDUE;VALUE=DATE:20240305\r\n"
                      "RRULE:FREQ=WEEKLY;COUNT=10\r\n")),
      calendarText(
          kNewYork +
          stampedTodo("SUMMARY:Master\r\nRRULE:FREQ=DAILY;UNTIL=20240401\r\n"
                      "BEGIN:VALARM\r\nTRIGGER:-PT5M\r\nACTION:AUDIO\r\nEND:"
                      "VALARM\r\n") +
          stampedTodo(
              "SUMMARY:Override\r\n"
              "RECURRENCE-ID;TZID=America/New_York:20240305T090000\r\n")),
      // only overridden occurrences: the first one stands for the reminder
      calendarText(
          stampedTodo("SUMMARY:Orphan\r\nRECURRENCE-ID:20240305T090000Z\r\n")),
      // every part of a rule, several rules, every frequency
      calendarText(
          stampedTodo("SUMMARY:Rules\r\n"
                      "RRULE:FREQ=MONTHLY;BYMONTHDAY=15,1,-1;INTERVAL=6\r\n"
                      "RRULE:FREQ=YEARLY;BYMONTH=12,6;INTERVAL=2;COUNT=1\r\n"
                      "RRULE:FREQ=WEEKLY;WKST=SU;BYDAY=SA,SU,MO,MO\r\n"
                      "RRULE:FREQ=MONTHLY;BYDAY=-1FR,2TU\r\n"
                      "RRULE:FREQ=WEEKLY;UNTIL=20240105T120000Z;BYDAY=SU,TH\r\n"
                      "RRULE:FREQ=DAILY;UNTIL=20240105T120000\r\n"
                      "RRULE:FREQ=HOURLY\r\nRRULE:FREQ=MINUTELY;INTERVAL=15\r\n"
                      "RRULE:FREQ=SECONDLY\r\nRRULE:INTERVAL=3;FREQ=DAILY\r\n"
                      "RRULE:FREQ=DAILY;UNTIL=20240231\r\n")),
      // values as they come: rules libical drops, numbers past 32 bits,
      // parts in any case, twice, unknown or unreadable
      calendarText(stampedTodo(
          "SUMMARY:Values\r\nPRIORITY:99999999999\r\n"
          "RRULE:FREQ=DAILY;COUNT=3;UNTIL=20300101\r\n"
          "RRULE:FREQ=DAILY;INTERVAL=0\r\nRRULE:FREQ=DAILY;INTERVAL=-2\r\n"
          "RRULE:FREQ=DAILY;COUNT=0\r\nRRULE:FREQ=MONTHLY;BYMONTHDAY=0\r\n"
          "RRULE:FREQ=YEARLY;BYMONTH=0,13,5L\r\n"
          "RRULE:FREQ=DAILY;COUNT=99999999999;INTERVAL=99999999999999999999\r\n"
          "RRULE:freq=weekly;FREQ=DAILY;;BYSETPOS=-1;BYDAY=1MO,-1mo,20MO,XX\r\n"
          "RRULE:INTERVAL=2\r\n")),
      // signed numbers; parameters libical would read the value by
      calendarText(stampedTodo("SUMMARY:Signed\r\nPRIORITY;VALUE=DATE:-05\r\n"
                               "RRULE;VALUE=DATE:FREQ=DAILY;COUNT=2\r\n")),
      // LF line ends, a language, a zone on a creation date, no final line end
      "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VTODO\nUID:lf\n"
      "SUMMARY;LANGUAGE=de-DE:Grüße\nCREATED;TZID=Asia/Tokyo:20240101T090000\n"
      "LAST-MODIFIED:20240102T000000Z\nEND:VTODO\nEND:VCALENDAR",
      // a name folded in the middle, a tab fold, texts that hold colons
      calendarText(stampedTodo("SUMM\r\n ARY:Meeting: 10:00\\, room 4\r\n"
                               "DESCRIP\r\n\tTION:a:b;c,d\r\n")),
      // a title with blanks around it, the last one after a fold
      calendarText(
          stampedTodo("SUMMARY;LANGUAGE=en:  Blanks\\, kept \r\n  \r\n")),
      // a bare reminder: only the properties libical needs
      calendarText(stampedTodo("")),
  };
}

TEST_F(ItemScannerTest, ReadsPlainFilesExactlyAsLibicalDoes) {
  for (const auto& text : plainFiles()) {
    auto quick = scanReminder(text);
    ASSERT_TRUE(quick.has_value()) << text;
    EXPECT_EQ(describedReading(quick),
              describedReading(parseReminderWithLibical(text)))
        << text;
  }
}

TEST_F(ItemScannerTest, FileZoneAndDatabaseZoneDiffer) {
  // Guards the test above: the odd zone must really give another answer
  // than the database's Berlin, or the file's zone winning proves nothing.
  auto own = scanReminder(plainFiles()[3]);
  auto database = scanReminder(calendarText(stampedTodo(
      "SUMMARY:Odd zone\r\nDUE;TZID=Europe/Berlin:20240705T120000\r\n")));
  ASSERT_TRUE(own && database);
  EXPECT_NE(instantText(resolveComponents(*own->dueDateComponents)),
            instantText(resolveComponents(*database->dueDateComponents)));
}

TEST_F(ItemScannerTest, DeclinesWhatLibicalReadsItsOwnWay) {
  const struct {
    const char* why;
    std::string text;
  } cases[] = {
      {"white space libical trims",
       calendarText(stampedTodo("DESCRIPTION: padded \r\n"))},
      {"an escape libical turns into a blank",
       calendarText(stampedTodo("SUMMARY:a\\xb\r\n"))},
      {"an escaped tab", calendarText(stampedTodo("SUMMARY:a\\tb\r\n"))},
      {"a tab inside a value", calendarText(stampedTodo("SUMMARY:a\tb\r\n"))},
      {"an empty text", calendarText(stampedTodo("SUMMARY:\r\n"))},
      {"a name in lower case", calendarText(stampedTodo("summary:lower\r\n"))},
      {"a component in lower case",
       calendarText("begin:vtodo\r\nUID:x\r\nEND:VTODO\r\n")},
      {"a quoted parameter",
       calendarText(stampedTodo("DESCRIPTION;ALTREP=\"cid:a\":x\r\n"))},
      {"an unknown text parameter",
       calendarText(stampedTodo("SUMMARY;FOO:bar\r\n"))},
      {"an event", calendarText("BEGIN:VEVENT\r\nUID:e\r\nEND:VEVENT\r\n")},
      {"an event beside the reminder",
       calendarText(stampedTodo("SUMMARY:x\r\n") +
                    "BEGIN:VEVENT\r\nUID:e\r\nEND:VEVENT\r\n")},
      {"no reminder at all", calendarText("")},
      {"a reminder without a calendar", stampedTodo("SUMMARY:bare\r\n")},
      {"two calendars",
       calendarText(stampedTodo("")) + calendarText(stampedTodo(""))},
      {"a missing END", "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:x\r\n"},
      {"a mismatched END", calendarText("BEGIN:VTODO\r\nEND:VALARM\r\n")},
      {"an alarm outside a reminder",
       calendarText("BEGIN:VALARM\r\nEND:VALARM\r\n")},
      {"a line without a colon", calendarText(stampedTodo("SUMMARY\r\n"))},
      {"an empty line", calendarText(stampedTodo("SUMMARY:x\r\n\r\n"))},
      {"a carriage return alone",
       calendarText(stampedTodo("SUMMARY:x\rDUE:20240101T000000Z\r\n"))},
      {"a NUL byte",
       calendarText(stampedTodo(std::string("SUMMARY:a\0b\r\n", 13)))},
      {"invalid UTF-8", calendarText(stampedTodo("SUMMARY:bad \xff byte\r\n"))},
      {"a character cut by a fold",
       calendarText(stampedTodo("SUMMARY:Gr\xc3\r\n \xbc\xc3\x9f"
                                "e\r\n"))},
      {"a property after the end",
       calendarText(stampedTodo("")) + "X-AFTER:1\r\n"},
      {"a status in lower case",
       calendarText(stampedTodo("STATUS:completed\r\n"))},
      {"an unknown status", calendarText(stampedTodo("STATUS:DONE\r\n"))},
      {"a completion date that is no date",
       calendarText(stampedTodo("COMPLETED:soon\r\n"))},
      {"a due date without a type",
       calendarText(stampedTodo("DUE:20240105\r\n"))},
      {"a time given as a date",
       calendarText(stampedTodo("DUE;VALUE=DATE:20240105T100000\r\n"))},
      {"a thirteenth month",
       calendarText(stampedTodo("DUE;VALUE=DATE:20241301\r\n"))},
      {"a leap second", calendarText(stampedTodo("DUE:20241231T235960Z\r\n"))},
      {"UTC and a zone at once",
       calendarText(stampedTodo("DUE;TZID=Asia/Tokyo:20240105T100000Z\r\n"))},
      {"a blank before a time",
       calendarText(stampedTodo("DUE: 20240105T100000Z\r\n"))},
      {"a quoted zone name",
       calendarText(
           stampedTodo("DUE;TZID=\"Asia/Tokyo\":20240105T100000\r\n"))},
      {"an overridden occurrence without a time",
       calendarText(stampedTodo("RECURRENCE-ID:tomorrow\r\n"))},
      {"a rule whose line ends in a blank",
       calendarText(stampedTodo("RRULE:FREQ=DAILY \r\n"))},
      {"a zone whose name has an escape",
       calendarText("BEGIN:VTIMEZONE\r\nTZID:Odd\\,zone\r\nEND:VTIMEZONE\r\n" +
                    stampedTodo("DUE;TZID=Odd:20240105T100000\r\n"))},
  };
  for (const auto& c : cases)
    EXPECT_FALSE(scanReminder(c.text).has_value()) << c.why << "\n" << c.text;
}

TEST_F(ItemScannerTest, ReaderFallsBackToLibicalForWhatIsDeclined) {
  // Declined texts still read: libical trims the title and knows "\t".
  auto reminder =
      parseReminder(calendarText(stampedTodo("SUMMARY:  a\\tb  \r\n")));
  ASSERT_TRUE(reminder.has_value());
  EXPECT_EQ(reminder->title, "a\tb");
}

// Small damage of every kind done to the plain files: wherever the quick
// reader still takes the text, it must read it as libical does.
TEST_F(ItemScannerTest, DamagedFilesEitherDeclinedOrReadAsLibicalDoes) {
  const std::vector<std::string> pieces = {" ",
                                           "\t",
                                           "\\",
                                           "\\n",
                                           "\\,",
                                           ",",
                                           ";",
                                           ":",
                                           "\"",
                                           "=",
                                           "\r\n",
                                           "\r\n ",
                                           "\n",
                                           "Z",
                                           "T",
                                           "0",
                                           "1",
                                           "9",
                                           "-",
                                           "x",
                                           "é",
                                           "SU",
                                           "MO,",
                                           ";COUNT=2",
                                           ";UNTIL=20240101",
                                           ";BYDAY=TU",
                                           ";WKST=SU",
                                           ";TZID=Asia/Tokyo",
                                           ";VALUE=DATE",
                                           "BEGIN:VALARM\r\nEND:VALARM\r\n",
                                           "STATUS:COMPLETED\r\n",
                                           "RECURRENCE-ID:20240101T000000Z\r\n",
                                           "DUE:20240101T000000Z\r\n",
                                           "END:VTODO\r\n",
                                           "BEGIN:VTODO\r\n",
                                           "+",
                                           "L",
                                           "\x01",
                                           "\x7f",
                                           "\xff",
                                           "\xe2\x80",
                                           "DATE",
                                           "-TIME",
                                           "TZID:",
                                           "TZOFFSETTO:+0100\r\n"};
  const auto files = plainFiles();
  std::mt19937 random(20240305);
  auto pick = [&](size_t count) {
    return std::uniform_int_distribution<size_t>(0, count - 1)(random);
  };
  int taken = 0, tried = 0;
  for (; tried < 6000; ++tried) {
    std::string text = files[pick(files.size())];
    for (size_t edits = 1 + pick(3); edits > 0; --edits) {
      size_t at = pick(text.size());
      switch (pick(5)) {
        case 0:
          text.insert(at, pieces[pick(pieces.size())]);
          break;
        case 1:
          text.erase(at, 1 + pick(4));
          break;
        case 2:
          text[at] = static_cast<char>(std::tolower(text[at]));
          break;
        case 3: {  // a line repeated
          size_t start = text.rfind('\n', at);
          start = start == std::string::npos ? 0 : start + 1;
          size_t end = text.find('\n', at);
          if (end != std::string::npos)
            text.insert(start, text.substr(start, end + 1 - start));
          break;
        }
        default:
          text[at] = static_cast<char>(std::toupper(text[at]));
      }
      if (text.empty()) text = "x";
    }
    auto quick = scanReminder(text);
    if (!quick) continue;
    ++taken;
    EXPECT_EQ(describedReading(quick),
              describedReading(parseReminderWithLibical(text)))
        << text;
  }
  // The test means something only if many damaged files were still taken.
  EXPECT_GT(taken, tried / 4) << taken << " of " << tried;
}

}  // namespace
}  // namespace corvane
