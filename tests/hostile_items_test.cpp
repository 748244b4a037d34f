// Item files that no well-behaved program writes: empty, garbage, cut
// short, huge, deeply nested, badly encoded. corvane must answer each with
// one envelope, show a reminder exactly when the file holds a VTODO it can
// read, and never damage a file it cannot change safely.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD
const std::string kModified = "LAST-MODIFIED:20200101T000000Z";

struct ItemCase {
  std::string name;
  std::string bytes;
  // The title "get" shows; absent when the file must not count as a
  // reminder at all (a file cut short may be one that another program is
  // still writing).
  std::optional<std::string> title;
  // Whether "toggle" must complete it: what corvane reads it can change.
  // Such a file's shown VTODO is last modified in 2020.
  bool toggles = false;
};

// Which line ends a text uses, so that a change can be seen to keep them.
std::string lineEndsOf(const std::string& text) {
  bool crlf = false, lf = false, cr = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      crlf = true;
      ++i;
    } else if (text[i] == '\r') {
      cr = true;
    } else if (text[i] == '\n') {
      lf = true;
    }
  }
  return std::string(crlf ? "CRLF " : "") + (lf ? "LF " : "") +
         (cr ? "CR" : "");
}

std::vector<ItemCase> oddItems() {
  std::string garbage;
  for (int i = 0; i < 4096; ++i)
    garbage.push_back(static_cast<char>((i * 7919 + 13) % 256));
  const std::string calendar = todoText("u1", "Whole");
  std::string loneCrAtEnd = todoText("cr", "Last", {kModified});
  loneCrAtEnd.pop_back();  // its END:VCALENDAR ends in CR alone
  return {
      {"empty file", "", std::nullopt},
      {"binary garbage", garbage, std::nullopt},
      {"NUL bytes", std::string("BEGIN:VCALENDAR\r\n\0\0\0\r\n", 22),
       std::nullopt},
      {"only BEGIN:VCALENDAR", "BEGIN:VCALENDAR\r\n", std::nullopt},
      {"truncated inside a property name",
       "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nUID:t1\r\nSUMMARY:Cut "
       "here\r\nDESCRIP",
       std::nullopt},
      {"truncated inside a value",
       "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:t2\r\nSUMMARY:Half a ti",
       std::nullopt},
      {"truncated inside a parameter",
       "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:Dated\r\nDUE;TZID=Eur",
       std::nullopt},
      {"invalid UTF-8 in the title", todoText("u8", "caf\xE9 \xFF\xFE \xC3"),
       "caf" + kReplacement + " " + kReplacement + kReplacement + " " +
           kReplacement},
      {"line feeds instead of CRLF",
       "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VTODO\nUID:lf\nSUMMARY:Plain "
       "line feeds\nEND:VTODO\nEND:VCALENDAR\n",
       "Plain line feeds"},
      {"folded lines",
       "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:fold\r\nSUMMARY:Folded over\r\n "
       " three\r\n\tlines\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
       "Folded over threelines"},
      {"VTODO without UID", todoText("", "Nobody gave me a UID"),
       "Nobody gave me a UID"},
      {"VEVENT and VTODO in one file",
       "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:e\r\nSUMMARY:The "
       "event\r\nDTSTART:20260101T100000Z\r\nEND:VEVENT\r\nBEGIN:VTODO\r\nUID:"
       "t\r\nSUMMARY:The to-do\r\nEND:VTODO\r\nEND:VCALENDAR\r\n",
       "The to-do"},
      {"VEVENT alone",
       "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:e\r\nSUMMARY:An "
       "event\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
       std::nullopt},
      {"END before BEGIN", "END:VTODO\r\nEND:VCALENDAR\r\n" + calendar,
       "Whole"},
      // libical's own sample files have this shape; the reminder is the
      // VTODO of the calendar, and so is what a change changes.
      {"a VTODO outside the calendar, before it",
       "BEGIN:VTODO\r\nUID:out\r\nSUMMARY:Outside\r\nEND:VTODO\r\n" +
           todoText("in", "Inside", {kModified}),
       "Inside", true},
      {"an overridden occurrence without its series",
       todoText("series", "One occurrence",
                {"RECURRENCE-ID:20260105T090000Z", kModified}),
       "One occurrence", true},
      {"CR line ends",
       "BEGIN:VCALENDAR\rVERSION:2.0\rBEGIN:VTODO\rUID:cr\rSUMMARY:Old "
       "Mac\r  line ends\r" +
           kModified + "\rEND:VTODO\rEND:VCALENDAR\r",
       "Old Mac line ends", true},
      {"a lone CR at the end", loneCrAtEnd, "Last", true},
  };
}

// Every odd file: the list query, "get", and a "toggle" that either
// completes a whole reminder or leaves the file exactly as it was.
TEST(HostileItems, EachOddFileGetsOneEnvelopeAndNoDamage) {
  for (const auto& item : oddItems()) {
    SCOPED_TRACE(item.name);
    TempStore store;
    store.writeFile("acct/list/item.ics", item.bytes);
    const fs::path file = store.root() / "acct/list/item.ics";

    Json listed =
        envelopeOf(runCorvane({"reminders", "acct/list"}, store.environment()));
    ASSERT_TRUE(listed.is_object());
    EXPECT_EQ(listed["success"], true);
    EXPECT_EQ(listed["data"].size(), item.title ? 1u : 0u);

    Json got =
        envelopeOf(runCorvane({"get", "acct/list/item"}, store.environment()));
    ASSERT_TRUE(got.is_object());
    EXPECT_EQ(got["success"], item.title.has_value());
    if (item.title) {
      EXPECT_EQ(got["data"]["title"], *item.title);
      EXPECT_EQ(got["data"]["id"], "acct/list/item");
    } else {
      EXPECT_EQ(got["error"], "Reminder not found");
    }

    Json toggled = envelopeOf(
        runCorvane({"toggle", "acct/list/item", "true"}, store.environment()));
    ASSERT_TRUE(toggled.is_object());
    std::string after = readBytes(file).value_or("<missing>");
    EXPECT_TRUE(!item.toggles || toggled["success"] == true) << toggled;
    if (toggled["success"] == true) {
      Json again = envelopeOf(
          runCorvane({"get", "acct/list/item"}, store.environment()));
      EXPECT_EQ(again["data"]["isCompleted"], true);
      if (item.title) {
        EXPECT_EQ(again["data"]["title"], *item.title);
      }
      // The VTODO shown is the one changed.
      if (item.toggles) {
        EXPECT_NE(again["data"]["lastModifiedDate"], "2020-01-01T00:00:00Z");
      }
      EXPECT_NE(after.find("STATUS:COMPLETED"), std::string::npos);
      EXPECT_EQ(lineEndsOf(after), lineEndsOf(item.bytes));
    } else {
      EXPECT_EQ(after, item.bytes) << "a refused change must not write";
    }
    // Only a reminder can be changed.
    if (!item.title) {
      EXPECT_EQ(toggled["success"], false);
    }
  }
}

TEST(HostileItems, LineFeedsAndCrlfReadAlike) {
  TempStore store;
  std::string crlf =
      todoText("same", "Same reminder", {"PRIORITY:3", "DUE:20260102T030405Z"});
  std::string lf;
  for (char c : crlf)
    if (c != '\r') lf.push_back(c);
  store.writeFile("acct/list/crlf.ics", crlf);
  store.writeFile("acct/list/lf.ics", lf);
  Json crlfRecord = envelopeOf(
      runCorvane({"get", "acct/list/crlf"}, store.environment()))["data"];
  Json lfRecord = envelopeOf(
      runCorvane({"get", "acct/list/lf"}, store.environment()))["data"];
  ASSERT_TRUE(crlfRecord.is_object());
  ASSERT_TRUE(lfRecord.is_object());
  for (const char* key : {"title", "priority", "dueDate", "isCompleted"})
    EXPECT_EQ(crlfRecord[key], lfRecord[key]) << key;

  // A change keeps the file's own line breaks readable by the next run.
  Json toggled = envelopeOf(
      runCorvane({"toggle", "acct/list/lf", "true"}, store.environment()));
  EXPECT_EQ(toggled["success"], true);
  Json after = envelopeOf(
      runCorvane({"get", "acct/list/lf"}, store.environment()))["data"];
  EXPECT_EQ(after["isCompleted"], true);
  EXPECT_EQ(after["title"], "Same reminder");
}

TEST(HostileItems, TwoFilesWithOneUidAreTwoReminders) {
  TempStore store;
  const std::string text = todoText("shared-uid", "Twin");
  store.writeFile("acct/list/a.ics", text);
  store.writeFile("acct/list/b.ics", text);
  store.writeFile("acct/other/c.ics", text);
  Json listed =
      envelopeOf(runCorvane({"reminders", "acct/list"}, store.environment()));
  ASSERT_EQ(listed["data"].size(), 2u);
  EXPECT_EQ(listed["data"][0]["id"], "acct/list/a");
  EXPECT_EQ(listed["data"][1]["id"], "acct/list/b");

  // The identifier is the file, so a change reaches exactly one of them.
  EXPECT_EQ(envelopeOf(runCorvane({"toggle", "acct/list/b", "true"},
                                  store.environment()))["success"],
            true);
  EXPECT_EQ(readBytes(store.root() / "acct/list/a.ics"), text);
  EXPECT_EQ(readBytes(store.root() / "acct/other/c.ics"), text);
  EXPECT_EQ(envelopeOf(runCorvane({"delete", "acct/list/a"},
                                  store.environment()))["success"],
            true);
  EXPECT_FALSE(fs::exists(store.root() / "acct/list/a.ics"));
  EXPECT_TRUE(fs::exists(store.root() / "acct/list/b.ics"));
  EXPECT_EQ(readBytes(store.root() / "acct/other/c.ics"), text);
}

TEST(HostileItems, ToggleOfAMixedFileKeepsTheEventByteForByte) {
  TempStore store;
  const std::string event =
      "BEGIN:VEVENT\r\nUID:e\r\nSUMMARY:Keep me\r\nDTSTART:20260101T100000Z\r\n"
      "X-ODD;X-PARAM=\"a:b\":value\r\nEND:VEVENT\r\n";
  store.writeFile("acct/list/mixed.ics",
                  "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + event +
                      "BEGIN:VTODO\r\nUID:t\r\nSUMMARY:The "
                      "to-do\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
  ASSERT_EQ(envelopeOf(runCorvane({"toggle", "acct/list/mixed", "true"},
                                  store.environment()))["success"],
            true);
  std::string after = readBytes(store.root() / "acct/list/mixed.ics").value();
  EXPECT_NE(after.find(event), std::string::npos) << after;
  EXPECT_TRUE(isWholeTodo(after)) << after;
}

// An identifier names a whole file, so deleting a reminder whose file
// holds other items too would delete them with it: refused, with how many.
TEST(HostileItems, DeleteOfAFileHoldingOtherItemsIsRefused) {
  const std::string todo =
      "BEGIN:VTODO\r\nUID:t\r\nSUMMARY:Me\r\nEND:VTODO\r\n";
  const std::string override =
      "BEGIN:VTODO\r\nUID:t\r\nRECURRENCE-ID:20260102T090000Z\r\n"
      "SUMMARY:Moved\r\nEND:VTODO\r\n";
  const std::string zone =
      "BEGIN:VTIMEZONE\r\nTZID:X\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000"
      "\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\n"
      "END:VTIMEZONE\r\n";
  auto event = [](const std::string& uid) {
    return "BEGIN:VEVENT\r\nUID:" + uid +
           "\r\nDTSTART:20260101T100000Z\r\nEND:VEVENT\r\n";
  };
  const std::string journal =
      "BEGIN:VJOURNAL\r\nUID:j\r\nSUMMARY:Notes\r\nEND:VJOURNAL\r\n";
  const std::string otherTodo =
      "BEGIN:VTODO\r\nUID:other\r\nSUMMARY:Not me\r\nEND:VTODO\r\n";
  const struct {
    const char* name;
    std::string body;
    int others;  // 0: deleted
  } cases[] = {
      {"the reminder alone", todo, 0},
      {"its series and time zones", zone + todo + override, 0},
      {"an event", todo + event("e"), 1},
      {"an event with its override", todo + event("e") + event("e"), 1},
      {"an event, a journal and another to-do",
       event("e") + todo + journal + otherTodo, 3},
      {"182 events",
       [&] {
         std::string many = todo;
         for (int i = 0; i < 182; ++i) many += event("e" + std::to_string(i));
         return many;
       }(),
       182},
  };
  for (const auto& c : cases) {
    TempStore store;
    const std::string text =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + c.body + "END:VCALENDAR\r\n";
    store.writeFile("acct/list/mixed.ics", text);
    Json deleted = envelopeOf(
        runCorvane({"delete", "acct/list/mixed"}, store.environment()));
    const fs::path file = store.root() / "acct/list/mixed.ics";
    if (c.others == 0) {
      EXPECT_EQ(deleted["success"], true) << c.name;
      EXPECT_FALSE(fs::exists(file)) << c.name;
      continue;
    }
    EXPECT_EQ(deleted["error"],
              "Error deleting reminder: The reminder's file also holds " +
                  std::to_string(c.others) +
                  (c.others == 1 ? " other item" : " other items") +
                  ", which would be deleted with it; nothing was deleted.")
        << c.name;
    EXPECT_EQ(readBytes(file), text) << c.name;
  }
}

// 50 MiB of notes: read, printed whole, and kept whole by a change.
TEST(HostileItems, FiftyMebibyteDescription) {
  TempStore store;
  const size_t size = size_t{50} << 20;
  std::string notes(size, 'n');
  for (size_t i = 70; i < size; i += 71) notes[i] = 'x';
  store.writeFile("acct/list/big.ics",
                  todoText("big", "Big notes", {"DESCRIPTION:" + notes}));
  // Reading is linear in the file's size: two seconds in a plain build, so
  // two minutes leave room for a sanitizer build on a busy machine, while
  // a reader that is quadratic in a line's length takes far longer.
  bool inTime = false;
  BackgroundRun get({"get", "acct/list/big"}, store.environment(),
                    store.base() / "out");
  RunResult run = get.waitAtMost(std::chrono::seconds(120), &inTime);
  ASSERT_TRUE(inTime) << "\"get\" of 50 MiB of notes took over two minutes";
  Json got = envelopeOf(run);
  ASSERT_TRUE(got.is_object());
  ASSERT_EQ(got["success"], true);
  EXPECT_EQ(got["data"]["notes"].get<std::string>().size(), size);
  EXPECT_EQ(got["data"]["notes"], notes);
  EXPECT_EQ(envelopeOf(runCorvane({"toggle", "acct/list/big", "true"},
                                  store.environment()))["success"],
            true);
  std::string after = readBytes(store.root() / "acct/list/big.ics").value();
  EXPECT_NE(after.find("DESCRIPTION:" + notes + "\r\n"), std::string::npos);
}

// Components nested 300,000 deep (a few megabytes, far below the size
// limit), which would take a recursive parser past its stack: the file is
// no reminder, and the rest of its list is listed as ever.
TEST(HostileItems, DeeplyNestedFileIsNoReminder) {
  TempStore store;
  store.writeFile("acct/list/plain.ics", todoText("plain", "Plain"));
  std::string text =
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:deep\r\nSUMMARY:Deep\r\n";
  for (int i = 0; i < 300000; ++i) text += "BEGIN:VALARM\r\n";
  for (int i = 0; i < 300000; ++i) text += "END:VALARM\r\n";
  text += "END:VTODO\r\nEND:VCALENDAR\r\n";
  store.writeFile("acct/list/deep.ics", text);

  Json listed =
      envelopeOf(runCorvane({"reminders", "acct/list"}, store.environment()));
  ASSERT_TRUE(listed.is_object());
  EXPECT_EQ(listed["success"], true);
  ASSERT_EQ(listed["data"].size(), 1u);
  EXPECT_EQ(listed["data"][0]["title"], "Plain");
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"get", "acct/list/deep"},
        {"toggle", "acct/list/deep", "true"},
        {"delete", "acct/list/deep"}}) {
    Json answer = envelopeOf(runCorvane(command, store.environment()));
    ASSERT_TRUE(answer.is_object()) << command[0];
    EXPECT_EQ(answer["error"], "Reminder not found") << command[0];
  }
  EXPECT_EQ(readBytes(store.root() / "acct/list/deep.ics"), text);
}

// 100,000 properties, one in a hundred a recurrence rule: the first rule
// describes the reminder.
TEST(HostileItems, HundredThousandProperties) {
  TempStore store;
  std::vector<std::string> lines;
  lines.push_back("RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE;COUNT=5");
  for (int i = 1; i < 100000; ++i) {
    if (i % 100 == 0)
      lines.push_back("RRULE:FREQ=DAILY;INTERVAL=" +
                      std::to_string(i % 97 + 2));
    else
      lines.push_back("X-FILLER-" + std::to_string(i) + ":value " +
                      std::to_string(i));
  }
  store.writeFile("acct/list/many.ics", todoText("many", "Many", lines));
  Json got =
      envelopeOf(runCorvane({"get", "acct/list/many"}, store.environment()));
  ASSERT_TRUE(got.is_object());
  EXPECT_EQ(got["data"]["title"], "Many");
  EXPECT_EQ(got["data"]["recurrenceDescription"],
            "Every 2 weeks on Monday, Wednesday");
  EXPECT_EQ(got["data"]["recurrenceEndDetails"], "for 5 occurrences");
  EXPECT_EQ(envelopeOf(runCorvane({"toggle", "acct/list/many", "true"},
                                  store.environment()))["success"],
            true);
  std::string after = readBytes(store.root() / "acct/list/many.ics").value();
  EXPECT_NE(after.find("X-FILLER-99999:value 99999\r\n"), std::string::npos);
  EXPECT_TRUE(isWholeTodo(after));
}

// Values libical drops, wraps or trims are shown as the file gives them,
// by the quick reader and by libical's (a quoted parameter sends a file to
// libical).
TEST(HostileItems, ValuesAsTheyCome) {
  const struct {
    std::string line;
    Json priority;
    std::string description;
    std::optional<std::string> endDetails;
    std::string title = "Plain";
  } cases[] = {
      {"RRULE:FREQ=DAILY;COUNT=3;UNTIL=20300101", 0, "Daily",
       "until Jan 1, 2030"},
      {"RRULE:FREQ=DAILY;INTERVAL=0", 0, "Every 0 days", std::nullopt},
      {"RRULE:FREQ=WEEKLY;INTERVAL=-2", 0, "Every -2 weeks", std::nullopt},
      {"RRULE:FREQ=DAILY;COUNT=0", 0, "Daily", "for 0 occurrences"},
      {"RRULE:FREQ=MONTHLY;BYMONTHDAY=0", 0, "Monthly on day(s) 0",
       std::nullopt},
      {"RRULE:FREQ=YEARLY;BYMONTH=0", 0, "Yearly in 0", std::nullopt},
      {"RRULE:FREQ=DAILY;COUNT=99999999999", 0, "Daily",
       "for 99999999999 occurrences"},
      {"RRULE:FREQ=DAILY;COUNT=99999999999999999999;INTERVAL=2", 0,
       "Every 2 days", std::nullopt},
      {"PRIORITY:2147483648\r\nRRULE:FREQ=DAILY", 2147483648LL, "Daily",
       std::nullopt},
      {"PRIORITY:99999999999999999999\r\nRRULE:FREQ=DAILY", 0, "Daily",
       std::nullopt},
      {"RRULE:FREQ=DAILY", 0, "Daily", std::nullopt, "  Blanks kept  "},
  };
  for (const std::string other : {"X-PLAIN:1", "X-QUOTED;X-P=\"q\":1"}) {
    TempStore store;
    for (size_t i = 0; i < std::size(cases); ++i)
      store.writeFile("a/l/" + std::to_string(i) + ".ics",
                      todoText("u", cases[i].title, {cases[i].line, other}));
    for (size_t i = 0; i < std::size(cases); ++i) {
      const auto& c = cases[i];
      Json got = envelopeOf(
          runCorvane({"get", "a/l/" + std::to_string(i)}, store.environment()));
      const Json& record = got["data"];
      EXPECT_EQ(record["title"], c.title) << c.line << other;
      EXPECT_EQ(record["priority"], c.priority) << c.line << other;
      EXPECT_EQ(record["hasRecurrenceRules"], true) << c.line << other;
      EXPECT_EQ(record["recurrenceDescription"], c.description) << c.line;
      EXPECT_EQ(record.value("recurrenceEndDetails", Json()),
                c.endDetails ? Json(*c.endDetails) : Json())
          << c.line << other;
    }
  }
}

}  // namespace
}  // namespace corvane::e2e
