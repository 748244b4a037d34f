// Completing a repeating reminder, as a user does it: the occurrence is
// recorded as a completed item of its own and the series moves on to its
// next occurrence, or ends when it has none.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kBerlin =
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\n"
    "BEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
    "TZNAME:CEST\r\nDTSTART:19700329T020000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\n"
    "BEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
    "TZNAME:CET\r\nDTSTART:19701025T030000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\n"
    "END:VTIMEZONE\r\n";

// What every series carries besides its dates: the completed occurrence
// takes these along, and the series keeps them byte for byte.
const std::vector<std::string> kCarried = {
    "CATEGORIES:home,plants", "X-ODD-PROPERTY;X-P=\"a:b\":kept as it is",
    "BEGIN:VALARM",           "ACTION:DISPLAY",
    "TRIGGER:-PT15M",         "END:VALARM"};

// The series file: `dates` (DTSTART, DUE, RRULE...) and kCarried in one
// VTODO, the Berlin zone before it when `withZone`.
std::string seriesText(const std::vector<std::string>& dates, bool withZone) {
  std::vector<std::string> lines = dates;
  lines.insert(lines.end(), kCarried.begin(), kCarried.end());
  std::string text = todoText("series@example.org", "Water the plants", lines);
  if (withZone) text.insert(text.find("BEGIN:VTODO"), kBerlin);
  return text;
}

bool hasLine(const std::string& text, const std::string& line) {
  return text.find("\r\n" + line + "\r\n") != std::string::npos;
}

// The text's lines, less those that moving or completing a series owns.
std::vector<std::string> unownedLines(const std::string& text) {
  static const std::vector<std::string> kOwned = {
      "DTSTART",       "DUE",    "RRULE",     "DTSTAMP",
      "LAST-MODIFIED", "STATUS", "COMPLETED", "PERCENT-COMPLETE"};
  std::vector<std::string> kept;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    bool owned = false;
    for (const auto& name : kOwned)
      owned = owned || (line.rfind(name, 0) == 0 &&
                        (line[name.size()] == ':' || line[name.size()] == ';'));
    if (!owned) kept.push_back(line);
  }
  return kept;
}

// One "toggle" of the series and what must follow.
struct Step {
  bool completed;                            // the toggle's argument
  std::vector<std::string> seriesLines;      // lines the series file then has
  bool seriesCompleted;                      // as "get" shows the series
  std::string seriesDue;                     // "dueDate" of the series
  std::optional<std::string> occurrenceDue;  // of the new item; none: none made
};

struct RepeatCase {
  std::string name;
  std::vector<std::string> dates;
  bool withZone;
  std::vector<Step> steps;
  std::string outside = "";  // a VTODO the file holds before its calendar
};

TEST(Repeating, CompletingAnOccurrenceMovesTheSeriesOn) {
  const std::vector<RepeatCase> cases = {
      {"weekly in Berlin across the spring clock change",
       {"DTSTART;TZID=Europe/Berlin:20260323T090000",
        "DUE;TZID=Europe/Berlin:20260323T100000", "RRULE:FREQ=WEEKLY"},
       true,
       {{true,
         {"DTSTART;TZID=Europe/Berlin:20260330T090000",
          "DUE;TZID=Europe/Berlin:20260330T100000", "RRULE:FREQ=WEEKLY"},
         false,
         "2026-03-30T08:00:00Z",
         "2026-03-23T09:00:00Z"}}},
      {"COUNT=2 completed twice",
       {"DTSTART:20260105T080000Z", "DUE:20260105T090000Z",
        "RRULE:FREQ=DAILY;COUNT=2"},
       false,
       {{true,
         {"DTSTART:20260106T080000Z", "DUE:20260106T090000Z",
          "RRULE:FREQ=DAILY;COUNT=1"},
         false,
         "2026-01-06T09:00:00Z",
         "2026-01-05T09:00:00Z"},
        {true,
         {"DTSTART:20260106T080000Z", "DUE:20260106T090000Z",
          "RRULE:FREQ=DAILY;COUNT=1", "STATUS:COMPLETED"},
         true,
         "2026-01-06T09:00:00Z",
         std::nullopt}}},
      {"UNTIL passed",
       {"DTSTART:20260105T080000Z", "DUE:20260105T090000Z",
        "RRULE:FREQ=WEEKLY;UNTIL=20260110T000000Z"},
       false,
       {{true,
         {"DUE:20260105T090000Z", "STATUS:COMPLETED"},
         true,
         "2026-01-05T09:00:00Z",
         std::nullopt}}},
      {"only a DUE, in the zone database's Berlin",
       {"DUE;TZID=Europe/Berlin:20260105T180000",
        "RRULE:FREQ=MONTHLY;INTERVAL=3"},
       false,
       {{true,
         {"DUE;TZID=Europe/Berlin:20260405T180000"},
         false,
         "2026-04-05T16:00:00Z",
         "2026-01-05T17:00:00Z"}}},
      {"all day, last day of the month",
       {"DTSTART;VALUE=DATE:20260131", "DUE;VALUE=DATE:20260201",
        "RRULE:FREQ=MONTHLY;BYMONTHDAY=-1"},
       false,
       {{true,
         {"DTSTART;VALUE=DATE:20260228", "DUE;VALUE=DATE:20260301"},
         false,
         "2026-03-01T00:00:00Z",
         "2026-02-01T00:00:00Z"}}},
      {"reopening an open series",
       {"DTSTART:20260105T080000Z", "DUE:20260105T090000Z", "RRULE:FREQ=DAILY"},
       false,
       {{false,
         {"DTSTART:20260105T080000Z", "DUE:20260105T090000Z",
          "STATUS:NEEDS-ACTION"},
         false,
         "2026-01-05T09:00:00Z",
         std::nullopt}}},
      // libical's own sample files have this shape: the series that "get"
      // shows, the calendar's, is the one moved.
      {"a VTODO outside the calendar, before it",
       {"DTSTART:20260105T080000Z", "DUE:20260105T090000Z", "RRULE:FREQ=DAILY"},
       false,
       {{true,
         {"DTSTART:20260106T080000Z", "DUE:20260106T090000Z",
          "RRULE:FREQ=DAILY"},
         false,
         "2026-01-06T09:00:00Z",
         "2026-01-05T09:00:00Z"}},
       "BEGIN:VTODO\r\nUID:outside\r\nSUMMARY:Outside\r\nEND:VTODO\r\n"},
  };
  for (const RepeatCase& c : cases) {
    TempStore store;
    const fs::path list = store.root() / "acct/list";
    const std::string original = c.outside + seriesText(c.dates, c.withZone);
    store.writeFile("acct/list/series.ics", original, 0640);
    std::set<fs::path> known = {list / "series.ics"};
    for (std::size_t s = 0; s < c.steps.size(); ++s) {
      const Step& step = c.steps[s];
      const std::string where = c.name + ", step " + std::to_string(s + 1);
      Json toggled = envelopeOf(runCorvane(
          {"toggle", "acct/list/series", step.completed ? "true" : "false"},
          store.environment()));
      ASSERT_EQ(toggled, Json::parse(R"({"success": true})")) << where;

      std::string series = readBytes(list / "series.ics").value();
      for (const auto& line : step.seriesLines)
        EXPECT_TRUE(hasLine(series, line)) << where << ": " << line;
      EXPECT_EQ(unownedLines(series), unownedLines(original)) << where;
      Json got = envelopeOf(
          runCorvane({"get", "acct/list/series"}, store.environment()));
      EXPECT_EQ(got["data"]["isCompleted"], step.seriesCompleted) << where;
      EXPECT_EQ(got["data"]["dueDate"], step.seriesDue) << where;

      std::vector<fs::path> added;
      for (const auto& file : itemFilesBelow(list))
        if (known.insert(file).second) added.push_back(file);
      ASSERT_EQ(added.size(), step.occurrenceDue ? 1u : 0u) << where;
      if (!step.occurrenceDue) continue;
      std::string occurrence = readBytes(added[0]).value();
      std::string uid;
      bool completed = false;
      EXPECT_TRUE(isWholeTodo(occurrence, &uid, &completed)) << where;
      EXPECT_TRUE(completed) << where;
      EXPECT_EQ(added[0].filename(), uid + ".ics") << where;
      // As private as the series it comes from.
      EXPECT_EQ(fs::status(added[0]).permissions(), fs::perms::owner_read |
                                                        fs::perms::owner_write |
                                                        fs::perms::group_read)
          << where;
      EXPECT_NE(uid, "series@example.org") << where;
      for (const auto& line : kCarried)
        EXPECT_TRUE(hasLine(occurrence, line)) << where << ": " << line;
      EXPECT_TRUE(hasLine(occurrence, "PERCENT-COMPLETE:100")) << where;
      EXPECT_EQ(occurrence.find("RRULE", occurrence.find("BEGIN:VTODO")),
                std::string::npos)
          << where;
      // The zone goes along only where the occurrence's dates use it.
      EXPECT_EQ(occurrence.find("BEGIN:VTIMEZONE") != std::string::npos,
                c.withZone)
          << where;
      Json done = envelopeOf(
          runCorvane({"get", "acct/list/" + added[0].stem().string()},
                     store.environment()));
      EXPECT_EQ(done["data"]["isCompleted"], true) << where;
      EXPECT_EQ(done["data"]["dueDate"], *step.occurrenceDue) << where;
    }
  }
}

// Another program rewrites the series after corvane read it, just as
// corvane begins writing: the change is refused and the list is left as
// the other program made it, with no completed occurrence beside it.
TEST(Repeating, SeriesRewrittenMeanwhileIsNotMoved) {
  TempStore store;
  const fs::path list = store.root() / "acct/list";
  store.writeFile("acct/list/series.ics",
                  seriesText({"DTSTART:20260105T080000Z",
                              "DUE:20260105T090000Z", "RRULE:FREQ=DAILY"},
                             false));
  const std::string theirs =
      seriesText({"DUE:20260107T090000Z", "RRULE:FREQ=DAILY"}, false);
  store.writeFile("their-version", theirs);
  Environment environment = store.environment();
  environment["LD_PRELOAD"] = CORVANE_REWRITE_SHIM;
  environment["REWRITE_SHIM_FROM"] = (store.root() / "their-version").string();
  environment["REWRITE_SHIM_TO"] = (list / "series.ics").string();
  // A sanitizer build's runtime wants to be loaded first; the shim only
  // wraps file creation, so the order does not matter here.
  environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";

  Json toggled = envelopeOf(
      runCorvane({"toggle", "acct/list/series", "true"}, environment));
  EXPECT_EQ(toggled["success"], false);
  EXPECT_EQ(
      toggled["error"].get<std::string>().rfind("Error updating reminder: ", 0),
      0u)
      << toggled;
  EXPECT_EQ(readBytes(list / "series.ics"), theirs);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(list))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"series.ics"});
}

}  // namespace
}  // namespace corvane::e2e
