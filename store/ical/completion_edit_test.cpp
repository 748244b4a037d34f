#include "store/ical/completion_edit.h"

#include <gtest/gtest.h>
#include <libical/ical.h>

#include <algorithm>
#include <set>
#include <vector>

namespace corvane {
namespace {

using namespace std::chrono;

const Instant kNow = sys_days{2024y / 3 / 5} + 9h + 30min + 7s;
const std::string kStamp = "20240305T093007Z";

// One property as this test reads it: its exact bytes, folds and line
// endings included, and its unfolded text.
struct TestLine {
  std::string raw;
  std::string text;
  std::string name;  // upper case
  int owner = -1;    // index of the BEGIN line of its component
};

std::vector<TestLine> readLines(const std::string& file) {
  std::vector<TestLine> lines;
  for (std::size_t pos = 0; pos < file.size();) {
    std::size_t next = std::min(file.find('\n', pos), file.size() - 1) + 1;
    std::string raw = file.substr(pos, next - pos);
    std::string text = raw.substr(0, raw.find_last_not_of("\r\n") + 1);
    if (!lines.empty() && (raw[0] == ' ' || raw[0] == '\t')) {
      lines.back().raw += raw;
      lines.back().text += text.substr(1);
    } else {
      lines.push_back({raw, text, "", -1});
    }
    pos = next;
  }
  std::vector<int> open;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    TestLine& line = lines[i];
    for (char c : line.text.substr(0, line.text.find_first_of(";:")))
      line.name.push_back(static_cast<char>(std::toupper(c)));
    if (line.name == "END" && !open.empty()) open.pop_back();
    line.owner = open.empty() ? -1 : open.back();
    if (line.name == "BEGIN") open.push_back(i);
  }
  return lines;
}

// Splits a file into the reminder's completion properties and all the rest.
struct Split {
  std::vector<std::string> completion;  // unfolded texts
  std::vector<std::string> others;      // exact bytes
};

Split split(const std::string& file) {
  std::vector<TestLine> lines = readLines(file);
  std::set<int> overridden;
  for (const TestLine& line : lines)
    if (line.name == "RECURRENCE-ID") overridden.insert(line.owner);
  int reminder = -1;
  for (int i = 0; i < static_cast<int>(lines.size()) && reminder < 0; ++i) {
    std::string upper = lines[i].text;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    if (upper == "BEGIN:VTODO" && !overridden.count(i)) reminder = i;
  }
  const std::set<std::string> kCompletion = {
      "STATUS", "COMPLETED", "PERCENT-COMPLETE", "LAST-MODIFIED", "DTSTAMP"};
  Split result;
  for (const TestLine& line : lines) {
    if (line.owner == reminder && kCompletion.count(line.name)) {
      result.completion.push_back(line.text);
    } else {
      result.others.push_back(line.raw);
    }
  }
  std::sort(result.completion.begin(), result.completion.end());
  return result;
}

std::string crlf(std::string_view lf) {
  std::string out;
  for (char c : lf) {
    if (c == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
    out += c;
  }
  return out;
}

// Whether some lines end in CR LF, and whether some in a bare LF.
std::pair<bool, bool> lineEndings(const std::string& file) {
  bool crlf = false;
  bool lf = false;
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] != '\n') continue;
    (i > 0 && file[i - 1] == '\r' ? crlf : lf) = true;
  }
  return {crlf, lf};
}

// What libical, as other programs use it, makes of the reminder.
icalproperty_status statusSeenByLibical(const std::string& file) {
  icalcomponent* root = icalparser_parse_string(file.c_str());
  if (root == nullptr) return ICAL_STATUS_NONE;
  icalproperty_status status = ICAL_STATUS_X;
  for (icalcomponent* todo =
           icalcomponent_get_first_component(root, ICAL_VTODO_COMPONENT);
       todo != nullptr;
       todo = icalcomponent_get_next_component(root, ICAL_VTODO_COMPONENT)) {
    if (!icalcomponent_get_first_property(todo, ICAL_RECURRENCEID_PROPERTY)) {
      status = icalcomponent_get_status(todo);
      break;
    }
  }
  icalcomponent_free(root);
  return status;
}

const struct Fixture {
  const char* name;
  std::string text;
} kFixtures[] = {
    {"todoman", crlf(R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//todoman//EN
BEGIN:VTODO
UID:9d8a6b0c3e5f4a1b@laptop
SUMMARY:Renew passport
DUE;VALUE=DATE-TIME:20240305T093000Z
DTSTAMP;VALUE=DATE-TIME:20240301T120000Z
CREATED;VALUE=DATE-TIME:20240301T120000Z
LAST-MODIFIED;VALUE=DATE-TIME:20240301T120000Z
PRIORITY:0
SEQUENCE:1
STATUS:NEEDS-ACTION
END:VTODO
END:VCALENDAR
)")},
    {"time zone, alarm, no completion properties yet", crlf(R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Apple Inc.//iOS 17.2//EN
BEGIN:VTIMEZONE
TZID:Europe/Berlin
BEGIN:DAYLIGHT
DTSTART:19810329T020000
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
END:DAYLIGHT
BEGIN:STANDARD
DTSTART:19961027T030000
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
END:STANDARD
END:VTIMEZONE
BEGIN:VTODO
UID:A1B2
SUMMARY:Call the plumber
DUE;TZID=Europe/Berlin:20240305T093000
CATEGORIES:Home,Urgent

BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;RELATED=START:-PT15M
DESCRIPTION:Reminder
STATUS:NEEDS-ACTION
DTSTAMP:20200101T000000Z
X-WR-ALARMUID:77
END:VALARM
END:VTODO
END:VCALENDAR
)")},
    {"recurring with two overrides", crlf(R"(BEGIN:VCALENDAR
VERSION:2.0
BEGIN:VTODO
UID:water
RECURRENCE-ID:20240306T080000Z
SUMMARY:Water plants (moved)
STATUS:COMPLETED
COMPLETED:20240306T090000Z
DTSTAMP:20240306T090000Z
END:VTODO
BEGIN:VTODO
UID:water
SUMMARY:Water plants
DTSTART:20240301T080000Z
DUE:20240301T080000Z
RRULE:FREQ=DAILY;INTERVAL=2
DTSTAMP:20240301T070000Z
END:VTODO
BEGIN:VTODO
UID:water
RECURRENCE-ID:20240308T080000Z
SUMMARY:Water plants (skipped)
STATUS:CANCELLED
DTSTAMP:20240307T090000Z
LAST-MODIFIED:20240307T090000Z
END:VTODO
END:VCALENDAR
)")},
    {"look-alike and extension properties, folded non-ASCII",
     crlf(R"(BEGIN:VCALENDAR
BEGIN:VTODO
UID:x
STATUSX:COMPLETED
X-STATUS;X-KIND="a:b;c":NEEDS-ACTION
DESCRIPTION;ALTREP="http://example.org:80/STATUS:IN-PROCESS":Fahrr)"
          "\xC3\r\n \xA4"
          R"(der pruefen und Gr)"
          "\xC3\xBC\r\n\t\xC3\x9F"
          R"(e sagen
X-MOZ-GENERATION;X-A=1:3
LAST-MODIFIED;VALUE=DATE-TIME:2024)"
          "\r\n\t0301T120000Z"
          R"(
STAT
 US:IN-PROCESS
PERCENT-COMPLETE:40
END:VTODO
END:VCALENDAR
)")},
    {"LF endings, lower-case names, no final newline",
     "begin:vcalendar\nversion:2.0\nbegin:vtodo\nuid:lower\n"
     "summary:quiet\nstatus:needs-action\ndtstamp:20240101T000000Z\n"
     "end:vtodo\nend:vcalendar"},
    {"already completed, trailing bytes", crlf(R"(BEGIN:VCALENDAR
BEGIN:VTODO
UID:done
SUMMARY:Filed taxes
STATUS:COMPLETED
COMPLETED;VALUE=DATE-TIME:20240201T100000Z
PERCENT-COMPLETE:100
DTSTAMP:20240201T100000Z
LAST-MODIFIED:20240201T100000Z
END:VTODO
END:VCALENDAR

)") + std::string("\0garbage", 8)},
};

TEST(CompletionEditTest, ChangesOnlyTheReminderCompletionProperties) {
  for (const Fixture& fixture : kFixtures) {
    for (bool completed : {true, false}) {
      SCOPED_TRACE(std::string(fixture.name) + (completed ? " +" : " -"));
      Result<std::string> edited =
          withCompletion(fixture.text, completed, kNow);
      ASSERT_TRUE(edited.ok()) << edited.reason();
      Split before = split(fixture.text);
      Split after = split(edited.value());
      EXPECT_EQ(after.others, before.others);
      std::vector<std::string> expected = {"DTSTAMP:" + kStamp,
                                           "LAST-MODIFIED:" + kStamp};
      expected.push_back(completed ? "STATUS:COMPLETED"
                                   : "STATUS:NEEDS-ACTION");
      if (completed) {
        expected.push_back("COMPLETED:" + kStamp);
        expected.push_back("PERCENT-COMPLETE:100");
      }
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(after.completion, expected);
      // Added and replaced lines end as the file's lines do.
      EXPECT_EQ(lineEndings(edited.value()), lineEndings(fixture.text));
      EXPECT_EQ(statusSeenByLibical(edited.value()),
                completed ? ICAL_STATUS_COMPLETED : ICAL_STATUS_NEEDSACTION);
    }
  }
}

TEST(CompletionEditTest, ReplacesInPlaceAndAddsAfterTheLastOwnProperty) {
  const struct {
    std::string input;
    bool completed;
    std::string expected;
  } cases[] = {
      {"BEGIN:VTODO\r\nUID:a\r\nStatus;X-A=1:NEEDS-ACTION\r\nSUMMARY:s\r\n"
       "COMPLETED;VALUE=DATE-TIME:2020\r\n 0101T000000Z\r\nDTSTAMP:1\r\n"
       "LAST-MODIFIED:1\r\nPERCENT-COMPLETE:5\r\nEND:VTODO\r\n",
       true,
       "BEGIN:VTODO\r\nUID:a\r\nSTATUS:COMPLETED\r\nSUMMARY:s\r\n"
       "COMPLETED:" +
           kStamp + "\r\nDTSTAMP:" + kStamp + "\r\nLAST-MODIFIED:" + kStamp +
           "\r\nPERCENT-COMPLETE:100\r\nEND:VTODO\r\n"},
      // Mixed endings: a replaced line keeps its own, added ones take the
      // file's usual one; a repeated property is not left to disagree.
      {"BEGIN:VTODO\r\nUID:a\r\nSTATUS:COMPLETED\nSUMMARY:s\r\n"
       "COMPLETED:1\r\nstatus:COMPLETED\r\nBEGIN:VALARM\r\nTRIGGER:-PT5M\r\n"
       "END:VALARM\r\nEND:VTODO",
       false,
       "BEGIN:VTODO\r\nUID:a\r\nSTATUS:NEEDS-ACTION\nSUMMARY:s\r\n"
       "LAST-MODIFIED:" +
           kStamp + "\r\nDTSTAMP:" + kStamp +
           "\r\nBEGIN:VALARM\r\nTRIGGER:-PT5M\r\nEND:VALARM\r\nEND:VTODO"},
      {"\xEF\xBB\xBF"
       "BEGIN:VCALENDAR\nBEGIN:VTODO\nEND:VTODO\nEND:VCALENDAR\n",
       false,
       "\xEF\xBB\xBF"
       "BEGIN:VCALENDAR\nBEGIN:VTODO\nSTATUS:NEEDS-ACTION\n"
       "LAST-MODIFIED:" +
           kStamp + "\nDTSTAMP:" + kStamp + "\nEND:VTODO\nEND:VCALENDAR\n"},
      // Only a line with a value is a property: the ':' of a quoted
      // parameter does not make one, so this line is kept as it is.
      {"BEGIN:VTODO\nSTATUS;X-A=\"a:b\"\nEND:VTODO\n", false,
       "BEGIN:VTODO\nSTATUS:NEEDS-ACTION\nLAST-MODIFIED:" + kStamp +
           "\nDTSTAMP:" + kStamp + "\nSTATUS;X-A=\"a:b\"\nEND:VTODO\n"},
  };
  for (const auto& c : cases) {
    Result<std::string> edited = withCompletion(c.input, c.completed, kNow);
    ASSERT_TRUE(edited.ok()) << c.input;
    EXPECT_EQ(edited.value(), c.expected) << c.input;
  }
}

TEST(CompletionEditTest, SettingTheSameStateAgainChangesOnlyTimestamps) {
  const Instant later = kNow + 24h;
  for (const Fixture& fixture : kFixtures) {
    for (bool completed : {true, false}) {
      std::string once = withCompletion(fixture.text, completed, kNow).value();
      std::string twice = withCompletion(once, completed, later).value();
      std::string expected = once;
      for (std::size_t at = 0;
           (at = expected.find(kStamp, at)) != std::string::npos;) {
        expected.replace(at, kStamp.size(), "20240306T093007Z");
      }
      EXPECT_EQ(twice, expected) << fixture.name << completed;
    }
  }
}

TEST(CompletionEditTest, RefusesFilesWithoutAClearReminder) {
  const char* inputs[] = {
      "",
      "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:e\r\nEND:VEVENT\r\nEND:"
      "VCALENDAR\r\n",
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:cut\r\nSUMMARY:half",
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:m\r\nEND:VCALENDAR\r\nEND:"
      "VTODO\r\n",
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:s\r\nEND:VALARM\r\nDTSTAMP:1\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n",
      "BEGIN:VJOURNAL\r\nDESCRIPTION:text\r\n BEGIN:VTODO\r\nEND:VJOURNAL\r\n",
      // libical ends the VTODO at a value-less END line, so properties
      // added before the real END would land outside the reminder.
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:w\r\nEND;X=Y\r\nSUMMARY:a\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n",
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:w\r\nend\r\nSUMMARY:a\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n",
      "BEGIN:VCALENDAR\r\nBEGIN;X=VALARM\r\nBEGIN:VTODO\r\nUID:w\r\n"
      "END:VTODO\r\nEND:VCALENDAR\r\n",
      // libical drops the RECURRENCE-ID it cannot read and takes the first
      // VTODO for the reminder; an edit of the second would change nothing
      // that corvane shows.
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:a\r\nRECURRENCE-ID:not-a-date"
      "\r\nSUMMARY:Override\r\nEND:VTODO\r\nBEGIN:VTODO\r\nUID:a\r\n"
      "SUMMARY:Main\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
  };
  // Either way: reopening the VTODO libical does not show would otherwise
  // read back in the state asked for.
  for (const char* input : inputs) {
    for (bool completed : {true, false}) {
      Result<std::string> edited = withCompletion(input, completed, kNow);
      ASSERT_FALSE(edited.ok()) << input << completed;
      EXPECT_FALSE(edited.reason().empty()) << input;
    }
  }
}

}  // namespace
}  // namespace corvane
