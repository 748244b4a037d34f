// The queries as a caller sees them: "reminders", "special_reminders" and
// "get" run against stores written here, with due dates placed relative to
// the moment the test runs, and against a store that todoman made.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli_test_support.h"
#include "tests/hostile_support.h"
#include "tests/scoped_environment.h"
#include "tests/temp_folder.h"
#include "tests/utc_text.h"

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
using Seconds = std::chrono::sys_seconds;

Seconds currentTime() {
  return std::chrono::time_point_cast<std::chrono::seconds>(Clock::now());
}

std::optional<Seconds> parseIsoUtc(const std::string& text) {
  int y, mo, d, h, mi, s;
  char z = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h,
                  &mi, &s, &z) != 7 ||
      z != 'Z' || text.size() != 20)
    return std::nullopt;
  std::chrono::year_month_day day{std::chrono::year{y},
                                  std::chrono::month{unsigned(mo)},
                                  std::chrono::day{unsigned(d)}};
  return Seconds{std::chrono::sys_days{day}.time_since_epoch()} +
         std::chrono::hours{h} + std::chrono::minutes{mi} +
         std::chrono::seconds{s};
}

// The current local day in `zone`: its first second, the moment of asking
// and its last second (23:59:59 local).
struct LocalDay {
  std::string zone;
  Seconds start, now, end;
};

Seconds localTimeOf(const std::tm& day, int hour, int minute, int second) {
  std::tm fields = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;
  return Seconds{std::chrono::seconds{std::mktime(&fields)}};
}

// Waits out the last seconds of a day, so that corvane, run just after,
// sees the same day as the test.
LocalDay todayIn(const std::string& zone) {
  ScopedTimeZone scoped(zone);
  for (;;) {
    Seconds now = currentTime();
    std::time_t t = now.time_since_epoch().count();
    std::tm fields{};
    localtime_r(&t, &fields);
    LocalDay day{zone, localTimeOf(fields, 0, 0, 0), now,
                 localTimeOf(fields, 23, 59, 59)};
    if (day.end - now >= 30s) return day;
    std::this_thread::sleep_until(Clock::time_point(day.end + 2s));
  }
}

// A DUE line on the zone's own clock, for the local day that holds
// `dayOf`: a date alone, or a floating time of day, with the instant it
// stands for in that zone.
std::pair<std::string, Seconds> localDue(const std::string& zone, Seconds dayOf,
                                         std::optional<int> hour) {
  ScopedTimeZone scoped(zone);
  std::time_t t = dayOf.time_since_epoch().count();
  std::tm fields{};
  localtime_r(&t, &fields);
  char text[64];
  if (hour)
    std::snprintf(text, sizeof text, "DUE:%04d%02d%02dT%02d3000\r\n",
                  fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                  *hour);
  else
    std::snprintf(text, sizeof text, "DUE;VALUE=DATE:%04d%02d%02d\r\n",
                  fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday);
  return {text, localTimeOf(fields, hour.value_or(0), hour ? 30 : 0, 0)};
}

struct Todo {
  Todo(std::string file, std::string summary, std::optional<Seconds> due,
       bool completed = false, std::optional<Seconds> modified = std::nullopt,
       std::string extra = "")
      : file(std::move(file)),
        summary(std::move(summary)),
        due(due),
        completed(completed),
        modified(modified),
        extra(std::move(extra)) {}

  std::string file;  // without ".ics"
  std::string summary;
  std::optional<Seconds> due;
  bool completed;
  std::optional<Seconds> modified;
  std::string extra;  // more property lines
};

std::string icsOf(const Todo& todo) {
  std::string properties =
      "UID:" + todo.file +
      "@tests\r\nDTSTAMP:20240101T000000Z\r\nSUMMARY:" + todo.summary + "\r\n";
  if (todo.due)
    properties += "DUE:" + utcText(*todo.due, kUtcICalendar) + "\r\n";
  if (todo.completed)
    properties += "STATUS:COMPLETED\r\nCOMPLETED:20240102T000000Z\r\n";
  else if (todo.extra.find("STATUS:") == std::string::npos)
    properties += "STATUS:NEEDS-ACTION\r\n";
  if (todo.modified)
    properties +=
        "LAST-MODIFIED:" + utcText(*todo.modified, kUtcICalendar) + "\r\n";
  properties += todo.extra;
  return calendarText(todoComponent(properties));
}

const char kEvent[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//corvane tests//EN\r\n"
    "BEGIN:VEVENT\r\nUID:meeting@tests\r\nDTSTAMP:20240101T000000Z\r\n"
    "DTSTART:20240101T090000Z\r\nDTEND:20240101T100000Z\r\n"
    "SUMMARY:A meeting\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";

// Files that hold no calendar object corvane can read.
std::vector<std::pair<std::string, std::string>> brokenFiles() {
  using namespace std::string_literals;
  return {
      {"acct/home/garbage.ics", "this is not iCalendar at all\n"},
      {"acct/home/truncated.ics",
       "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTODO\r\nSUMMARY:cut off"},
      {"acct/work/empty.ics", ""},
      {"acct/work/binary.ics", "\x00\x01\xff\xfe BEGIN:VTODO \x00"s},
  };
}

using test::readFile;

void writeTodos(const TempStore& store, const std::string& list,
                const std::vector<Todo>& todos) {
  for (const auto& todo : todos)
    store.writeFile(list + "/" + todo.file + ".ics", icsOf(todo));
}

void writeBrokenAndEvents(const TempStore& store) {
  for (const auto& [path, content] : brokenFiles())
    store.writeFile(path, content);
  store.writeFile("acct/home/meeting.ics", kEvent);
}

void expectBrokenUntouched(const TempStore& store) {
  for (const auto& [path, content] : brokenFiles())
    EXPECT_EQ(readFile(store.root() / path), content) << path;
  EXPECT_EQ(readFile(store.root() / "acct/home/meeting.ics"), kEvent);
}

std::vector<std::string> idsOf(const Json& records) {
  std::vector<std::string> ids;
  if (!records.is_array()) return ids;
  for (const auto& record : records) ids.push_back(record.value("id", "?"));
  return ids;
}

std::vector<std::string> sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

Environment inZone(const TempStore& store, const std::string& zone) {
  Environment environment = store.environment();
  environment["TZ"] = zone;
  return environment;
}

// A store with reminders spread over three lists of two accounts, due
// around the current local day in `zone`. Returns the identifiers that
// "today" must show, with their due instants.
struct TodayStore {
  std::vector<std::pair<std::string, Seconds>> expected;
  std::vector<std::string> skipped;
};

TodayStore writeTodayStore(const TempStore& store, const LocalDay& day) {
  TodayStore result;
  auto expect = [&](const std::string& id, Seconds due) {
    result.expected.emplace_back(id, due);
  };
  std::vector<Todo> home, work, inbox;
  Seconds lastYear = day.now - 366 * 24h;
  Seconds yesterday = day.now - 24h;
  home.push_back({"last-year", "Last year", lastYear});
  expect("acct/home/last-year", lastYear);
  work.push_back({"yesterday", "Yesterday", yesterday});
  expect("acct/work/yesterday", yesterday);
  // Halfway between midnight and now, and between now and the day's end.
  if (day.now - day.start >= 2min) {
    Seconds earlier = day.start + (day.now - day.start) / 2;
    inbox.push_back({"earlier-today", "Earlier today", earlier});
    expect("other/inbox/earlier-today", earlier);
  } else {
    result.skipped.push_back("earlier today: the day has only just begun");
  }
  Seconds later = day.end - (day.end - day.now) / 2;
  home.push_back({"later-today", "Later today", later});
  expect("acct/home/later-today", later);
  // Close to the bound, where a day taken in the wrong zone ends.
  Seconds lateTonight = std::max(later, day.end - 2h);
  work.push_back({"late-tonight", "Late tonight", lateTonight});
  expect("acct/work/late-tonight", lateTonight);

  home.push_back({"tomorrow", "Tomorrow", day.end + 2h});
  // Dates alone and floating times are read on the local clock.
  auto [allDayToday, allDayTodayAt] = localDue(day.zone, day.now, std::nullopt);
  inbox.push_back({"all-day-today", "All day today", std::nullopt, false,
                   std::nullopt, allDayToday});
  expect("other/inbox/all-day-today", allDayTodayAt);
  auto [tonight, tonightAt] = localDue(day.zone, day.now, 23);
  inbox.push_back({"floating-tonight", "Floating tonight", std::nullopt, false,
                   std::nullopt, tonight});
  expect("other/inbox/floating-tonight", tonightAt);
  inbox.push_back({"all-day-tomorrow", "All day tomorrow", std::nullopt, false,
                   std::nullopt,
                   localDue(day.zone, day.end + 1h, std::nullopt).first});
  inbox.push_back({"floating-after-midnight", "Floating after midnight",
                   std::nullopt, false, std::nullopt,
                   localDue(day.zone, day.end + 1h, 0).first});
  work.push_back({"next-year", "Next year", day.now + 366 * 24h});
  work.push_back({"undated", "Undated", std::nullopt});
  home.push_back({"done-yesterday", "Done yesterday", yesterday, true});
  inbox.push_back({"cancelled", "Cancelled", yesterday, false, std::nullopt,
                   "STATUS:CANCELLED\r\n"});
  writeTodos(store, "acct/home", home);
  writeTodos(store, "acct/work", work);
  writeTodos(store, "other/inbox", inbox);
  store.writeFile("acct/home/displayname", "Home\n");
  writeBrokenAndEvents(store);
  return result;
}

class TodayInZone : public ::testing::TestWithParam<const char*> {};

TEST_P(TodayInZone, OpenRemindersDueByTheEndOfTheLocalDay) {
  const std::string zone = GetParam();
  TempStore store;
  LocalDay day = todayIn(zone);
  TodayStore today = writeTodayStore(store, day);
  for (const auto& why : today.skipped) std::cout << "skipped: " << why << "\n";
  const std::string before = treeSnapshot(store.root());

  RunResult run =
      runCorvane({"special_reminders", "today"}, inZone(store, zone));
  if (todayIn(zone).end != day.end)
    GTEST_SKIP() << "the local day ended while corvane ran";
  Json records = dataOf(run, zone);
  std::vector<std::string> expectedIds;
  for (const auto& [id, due] : today.expected) expectedIds.push_back(id);
  // Unsorted: store order, accounts then lists then files by name.
  EXPECT_EQ(idsOf(records), sorted(expectedIds)) << zone << "\n" << run.out;
  for (const auto& record : records) {
    std::string id = record.value("id", "");
    auto found = std::find_if(today.expected.begin(), today.expected.end(),
                              [&](const auto& e) { return e.first == id; });
    if (found == today.expected.end()) continue;
    EXPECT_EQ(record["dueDate"], utcText(found->second)) << zone << " " << id;
    EXPECT_EQ(record["calendar"], id.substr(0, id.rfind('/'))) << zone;
    EXPECT_EQ(record["isCompleted"], false) << zone << " " << id;
  }

  // Sort words reach the query lower-cased.
  RunResult byDeadline =
      runCorvane({"special_reminders", "today", "Incomplete", "DEADLINE"},
                 inZone(store, zone));
  std::vector<std::pair<std::string, Seconds>> byDue = today.expected;
  std::stable_sort(
      byDue.begin(), byDue.end(),
      [](const auto& a, const auto& b) { return a.second < b.second; });
  std::vector<std::string> dueOrder;
  for (const auto& [id, due] : byDue) dueOrder.push_back(id);
  if (todayIn(zone).end == day.end) {
    EXPECT_EQ(idsOf(dataOf(byDeadline, zone + " DEADLINE")), dueOrder) << zone;
  }

  // "today" never shows completed reminders, whatever is asked for.
  Json completed =
      dataOf(runCorvane({"special_reminders", "today", "completed"},
                        inZone(store, zone)),
             zone + " completed");
  EXPECT_TRUE(completed.is_array() && completed.empty()) << completed.dump();

  EXPECT_EQ(treeSnapshot(store.root()), before) << "a query changed the store";
  expectBrokenUntouched(store);
}

INSTANTIATE_TEST_SUITE_P(FarEastAndFarWest, TodayInZone,
                         ::testing::Values("UTC", "Pacific/Kiritimati",
                                           "Pacific/Pago_Pago",
                                           "America/Sao_Paulo"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           return name;
                         });

class QueryCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    Seconds now = currentTime();
    writeTodos(
        store_, "acct/home",
        {{"a-open-past", "Open past", now - 400 * 24h, false, now - 3h},
         {"b-done-future", "Done future", now + 40 * 365 * 24h, true, now - 1h},
         {"c-undated", "Undated", std::nullopt, false, now - 2h},
         {"d-done-undated", "Done undated", std::nullopt, true}});
    writeTodos(
        store_, "acct/work",
        {{"e-open-future", "Open future", now + 30 * 24h, false, now - 5h}});
    writeBrokenAndEvents(store_);
    before_ = treeSnapshot(store_.root());
  }
  void TearDown() override {
    EXPECT_EQ(treeSnapshot(store_.root()), before_)
        << "a query changed the store";
    expectBrokenUntouched(store_);
  }

  RunResult run(const std::vector<std::string>& args) {
    return runCorvane(args, store_.environment());
  }
  std::vector<std::string> ids(const std::vector<std::string>& args) {
    std::string words;
    for (const auto& arg : args) words += arg + " ";
    return idsOf(dataOf(run(args), words));
  }

  TempStore store_;
  std::string before_;
};

TEST_F(QueryCommands, ScheduledTakesEveryDatedReminder) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> expected;
  } cases[] = {
      {{"special_reminders", "scheduled"},
       {"acct/home/a-open-past", "acct/home/b-done-future",
        "acct/work/e-open-future"}},
      {{"special_reminders", "scheduled", "all"},
       {"acct/home/a-open-past", "acct/home/b-done-future",
        "acct/work/e-open-future"}},
      {{"special_reminders", "scheduled", "incomplete"},
       {"acct/home/a-open-past", "acct/work/e-open-future"}},
      {{"special_reminders", "scheduled", "COMPLETED"},
       {"acct/home/b-done-future"}},
      {{"special_reminders", "scheduled", "whatever"},
       {"acct/home/a-open-past", "acct/home/b-done-future",
        "acct/work/e-open-future"}},
      {{"special_reminders", "scheduled", "all", "DEADLINE"},
       {"acct/home/a-open-past", "acct/work/e-open-future",
        "acct/home/b-done-future"}},
      {{"special_reminders", "scheduled", "all", "Modified"},
       {"acct/home/b-done-future", "acct/home/a-open-past",
        "acct/work/e-open-future"}},
      {{"special_reminders", "scheduled", "all", "by-title"},
       {"acct/home/a-open-past", "acct/home/b-done-future",
        "acct/work/e-open-future"}},
  };
  for (const auto& c : cases) {
    std::string words;
    for (const auto& arg : c.args) words += arg + " ";
    EXPECT_EQ(ids(c.args), c.expected) << words;
  }
}

TEST_F(QueryCommands, RemindersOfOneList) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> expected;
  } cases[] = {
      {{"reminders", "acct/home"},
       {"acct/home/a-open-past", "acct/home/b-done-future",
        "acct/home/c-undated", "acct/home/d-done-undated"}},
      {{"reminders", "acct/home", "COMPLETED"},
       {"acct/home/b-done-future", "acct/home/d-done-undated"}},
      {{"reminders", "acct/home", "Incomplete"},
       {"acct/home/a-open-past", "acct/home/c-undated"}},
      {{"reminders", "acct/home", "INCOMPLETE", "Deadline"},
       {"acct/home/a-open-past", "acct/home/c-undated"}},
      {{"reminders", "acct/home", "all", "deadline"},
       {"acct/home/a-open-past", "acct/home/b-done-future",
        "acct/home/c-undated", "acct/home/d-done-undated"}},
      // Latest change first; the one without LAST-MODIFIED last.
      {{"reminders", "acct/home", "all", "MODIFIED"},
       {"acct/home/b-done-future", "acct/home/c-undated",
        "acct/home/a-open-past", "acct/home/d-done-undated"}},
      {{"reminders", "acct/work"}, {"acct/work/e-open-future"}},
  };
  for (const auto& c : cases) {
    std::string words;
    for (const auto& arg : c.args) words += arg + " ";
    EXPECT_EQ(ids(c.args), c.expected) << words;
  }
  Json records = dataOf(run({"reminders", "acct/work"}), "work");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["calendar"], "acct/work");
  EXPECT_EQ(records[0]["title"], "Open future");
}

TEST_F(QueryCommands, EmptyListIsAnEmptyArray) {
  store_.makeDir("acct/empty");
  before_ = treeSnapshot(store_.root());
  RunResult result = run({"reminders", "acct/empty"});
  Json records = dataOf(result, "empty");
  EXPECT_TRUE(records.is_array() && records.empty()) << result.out;
}

TEST_F(QueryCommands, UnknownListsAndSmartLists) {
  for (const std::string id : {"nope/none", "acct", "acct/home/", "ACCT/HOME",
                               "acct/home/a-open-past", "../acct/home", ""}) {
    EXPECT_EQ(errorOf(run({"reminders", id})), "List not found with ID: " + id)
        << id;
  }
  for (const std::string id :
       {"Today", "TODAY", " today", "today ", "", "Scheduled", "acct/home"}) {
    EXPECT_EQ(errorOf(run({"special_reminders", id})),
              "Invalid special list ID. Use 'today' or 'scheduled'.")
        << '"' << id << '"';
  }
}

TEST_F(QueryCommands, GetShowsOneRecord) {
  RunResult result = run({"get", "acct/home/b-done-future"});
  Json envelope = envelopeOf(result);
  ASSERT_TRUE(envelope.is_object());
  EXPECT_EQ(envelope["success"], true);
  ASSERT_TRUE(envelope.contains("data"));
  const Json& record = envelope["data"];
  ASSERT_TRUE(record.is_object()) << result.out;
  EXPECT_EQ(record["id"], "acct/home/b-done-future");
  EXPECT_EQ(record["title"], "Done future");
  EXPECT_EQ(record["isCompleted"], true);
  EXPECT_EQ(record["calendar"], "acct/home");
  EXPECT_EQ(record["notes"], "");
  EXPECT_EQ(record["hasRecurrenceRules"], false);
  EXPECT_EQ(record.size(), 11u) << result.out;

  Json undated = dataOf(run({"get", "acct/home/c-undated"}), "undated");
  ASSERT_TRUE(undated.is_object());
  ASSERT_TRUE(undated.contains("dueDate"));
  EXPECT_TRUE(undated["dueDate"].is_null());
}

TEST_F(QueryCommands, GetOfWhatIsNoReminder) {
  const std::vector<std::string> ids = {
      "acct/home/meeting",
      "acct/home/garbage",
      "acct/home/missing",
      "acct/home/a-open-past.ics",
      "../../etc/passwd",
      "/etc/passwd",
      "a/b",
      "a/b/c/d",
      "acct/home/../home/a-open-past",
      "acct/./home/a-open-past",
      "acct/home",
      "",
      "acct//a-open-past",
      "ACCT/HOME/A-OPEN-PAST",
      std::string(100000, 'x'),
      "acct/home/" + std::string(100000, 'y'),
  };
  for (const auto& id : ids)
    EXPECT_EQ(errorOf(run({"get", id})), "Reminder not found")
        << id.substr(0, 60);
}

// todoman writes the store; corvane must read what todoman reports.
class TodomanStore : public ::testing::Test {
 protected:
  void SetUp() override {
    store_.writeFile("acct/tasks/displayname", "Tasks\n");
    store_.writeFile("acct/errands/displayname", "Errands\n");
    std::ofstream config(store_.base() / "config/todoman/config.py");
    // default_due 0: a reminder made without --due has no due date.
    config << "path = \"" << store_.root().string() << "/*/*\"\n"
           << "date_format = \"%Y-%m-%d\"\n"
           << "time_format = \"%H:%M\"\n"
           << "default_list = \"Tasks\"\n"
           << "default_due = 0\n";
  }

  // Runs todoman with `input` on its standard input.
  RunResult todoman(const std::vector<std::string>& args,
                    const std::string& input = "") {
    fs::path inputFile = store_.base() / "todoman-input";
    std::ofstream(inputFile, std::ios::binary | std::ios::trunc) << input;
    std::vector<std::string> argv = {
        "sh", "-c", "exec \"$0\" \"$@\" < \"$INPUT\"", "/usr/bin/todoman"};
    argv.insert(argv.end(), args.begin(), args.end());
    Environment environment = {
        {"HOME", (store_.base() / "home").string()},
        {"XDG_CONFIG_HOME", (store_.base() / "config").string()},
        {"XDG_CACHE_HOME", (store_.base() / "cache").string()},
        {"TZ", "UTC"},
        {"LC_ALL", "C.UTF-8"},
        {"PYTHONDONTWRITEBYTECODE", "1"},
        {"INPUT", inputFile.string()},
        {"PATH", "/usr/local/bin:/usr/bin:/bin"}};
    RunResult run = runProgram("/bin/sh", argv, environment);
    EXPECT_EQ(run.exitStatus, 0) << "todoman failed: " << run.out << run.err;
    return run;
  }

  TempStore store_;
};

// A due time as todoman's --due takes it (TZ is UTC here).
std::string todomanTime(Seconds instant) {
  return utcText(instant, "%Y-%m-%d %H:%M");
}

TEST_F(TodomanStore, CorvaneShowsWhatTodomanReports) {
  if (::access("/usr/bin/todoman", X_OK) != 0) GTEST_SKIP() << "no todoman";
  LocalDay day = todayIn("UTC");
  // todoman reads due times to the minute, in TZ (UTC here).
  std::set<std::string> dueToday = {"Due yesterday"};
  todoman({"new", "-l", "Tasks", "--due", todomanTime(day.now - 24h),
           "--priority", "high", "-r", "Due yesterday"},
          "Call the plumber\nbefore noon\n");
  if (day.now - day.start >= 10min) {
    todoman({"new", "-l", "Errands", "--due",
             todomanTime(day.start + (day.now - day.start) / 2), "--priority",
             "low", "Due earlier today"});
    dueToday.insert("Due earlier today");
  } else {
    std::cout << "skipped: earlier today, the day has only just begun\n";
  }
  todoman({"new", "-l", "Tasks", "--due", todomanTime(day.end + 2h),
           "--priority", "medium", "Due tomorrow"});
  todoman({"new", "-l", "Errands", "Without due date"});
  todoman({"new", "-l", "Tasks", "--due", todomanTime(day.now - 48h),
           "Done already"});

  Json listed = Json::parse(
      todoman({"--porcelain", "list", "--status", "ANY"}).out, nullptr, false);
  ASSERT_TRUE(listed.is_array()) << listed.dump();
  for (const auto& todo : listed)
    if (todo["summary"] == "Done already")
      todoman({"done", std::to_string(todo["id"].get<int>())});
  listed = Json::parse(todoman({"--porcelain", "list", "--status", "ANY"}).out,
                       nullptr, false);
  ASSERT_TRUE(listed.is_array());
  ASSERT_EQ(listed.size(), dueToday.size() + 3);

  // "today": exactly the open ones due by the end of the day.
  RunResult today =
      runCorvane({"special_reminders", "today"}, store_.environment());
  if (todayIn("UTC").end != day.end) GTEST_SKIP() << "the day ended";
  std::set<std::string> shownToday;
  for (const auto& record : dataOf(today, "today"))
    shownToday.insert(record.value("title", "?"));
  EXPECT_EQ(shownToday, dueToday) << today.out;

  // Every item todoman wrote, looked up by its file.
  size_t compared = 0;
  for (const char* list : {"acct/tasks", "acct/errands"}) {
    for (const auto& entry : fs::directory_iterator(store_.root() / list)) {
      if (entry.path().extension() != ".ics") continue;
      std::string id = std::string(list) + "/" + entry.path().stem().string();
      RunResult got = runCorvane({"get", id}, store_.environment());
      Json record = dataOf(got, id);
      ASSERT_TRUE(record.is_object()) << got.out;
      std::string title = record.value("title", "");
      auto todo =
          std::find_if(listed.begin(), listed.end(),
                       [&](const Json& t) { return t["summary"] == title; });
      ASSERT_NE(todo, listed.end()) << title;
      ++compared;
      EXPECT_EQ(record["id"], id);
      EXPECT_EQ(record["notes"], (*todo)["description"]) << title;
      EXPECT_EQ(record["priority"], (*todo)["priority"]) << title;
      EXPECT_EQ(record["isCompleted"], (*todo)["completed"]) << title;
      EXPECT_EQ(record["calendar"], list) << title;
      if ((*todo)["due"].is_null()) {
        EXPECT_TRUE(record["dueDate"].is_null()) << title;
      } else {
        auto due = parseIsoUtc(record.value("dueDate", ""));
        ASSERT_TRUE(due) << title << ": " << record["dueDate"].dump();
        EXPECT_EQ(due->time_since_epoch().count(),
                  (*todo)["due"].get<long long>())
            << title;
      }
    }
  }
  EXPECT_EQ(compared, listed.size());
}

// A floating due time in the hour that Berlin's clocks repeat is its first
// occurrence for every command, and the deadline order is the order of
// the instants printed.
TEST(LocalTimes, RepeatedHourIsItsFirstOccurrenceEverywhere) {
  TempStore store;
  writeDueTodos(store,
                {{"a/l/floating.ics", "f", "Floating", "20261025T023000"},
                 {"a/l/between.ics", "b", "Between", "20261025T010000Z"},
                 {"a/l/skipped.ics", "s", "Skipped", "20260329T023000"}});
  Environment environment = inZone(store, "Europe/Berlin");
  Json listed = envelopeOf(
      runCorvane({"reminders", "a/l", "all", "deadline"}, environment));
  std::vector<std::string> order;
  for (const auto& record : listed["data"]) order.push_back(record["title"]);
  EXPECT_EQ(order,
            (std::vector<std::string>{"Skipped", "Floating", "Between"}));
  EXPECT_EQ(listed["data"][1]["dueDate"], "2026-10-25T00:30:00Z");
  EXPECT_EQ(listed["data"][0]["dueDate"], "2026-03-29T01:30:00Z");
  for (const char* zone :
       {"Europe/Berlin", ":Europe/Berlin", "/usr/share/zoneinfo/Europe/Berlin"})
    EXPECT_EQ(envelopeOf(runCorvane({"get", "a/l/floating"},
                                    inZone(store, zone)))["data"]["dueDate"],
              "2026-10-25T00:30:00Z")
        << zone;
}

// A TZ that names a FIFO is not opened: every run ends, in UTC.
TEST(LocalTimes, TzNamingAFifoEndsInOneEnvelope) {
  TempStore store;
  store.writeFile("a/l/floating.ics",
                  todoText("f", "Floating", {"DUE:20261025T023000"}));
  fs::path fifo = store.base() / "zone-fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& zone : {fifo.string(), ":" + fifo.string()}) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"get", "a/l/floating"}, {"special_reminders", "today"}}) {
      std::vector<std::string> argv = {"timeout", "10", CORVANE_BINARY};
      argv.insert(argv.end(), args.begin(), args.end());
      Json envelope =
          envelopeOf(runProgram("/usr/bin/timeout", argv, inZone(store, zone)));
      EXPECT_EQ(envelope["success"], true) << zone << " " << args[0];
      if (args[0] == "get") {
        EXPECT_EQ(envelope["data"]["dueDate"], "2026-10-25T02:30:00Z") << zone;
      }
    }
  }
}

// The locale's script modifier chooses the month names' script.
TEST(LocalTimes, LocaleModifierChoosesTheScript) {
  TempStore store;
  store.writeFile("a/l/yearly.ics",
                  todoText("y", "Yearly", {"RRULE:FREQ=YEARLY;BYMONTH=3"}));
  Environment environment = store.environment();
  environment.erase("LC_ALL");
  for (const auto& [lang, month] :
       std::vector<std::pair<std::string, std::string>>{
           {"sr_RS.UTF-8@latin", "mart"},
           {"sr_RS.UTF-8", "\u043C\u0430\u0440\u0442"}}) {
    environment["LANG"] = lang;
    Json got = envelopeOf(runCorvane({"get", "a/l/yearly"}, environment));
    EXPECT_EQ(got["data"]["recurrenceDescription"], "Yearly in " + month)
        << lang;
  }
}

}  // namespace
}  // namespace corvane::e2e
