// KDE's store as a caller sees it: the built corvane against a real
// Akonadi of this test's own (tests/akonadi_session.sh), with to-dos made,
// read and changed here through Akonadi's own jobs, and a vdir beside it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/akonadi_support.h"
#include "tests/calendar_text.h"
#include "tests/cli_test_support.h"

namespace corvane::e2e {
namespace {

using std::chrono::steady_clock;

// A vdir store beside Akonadi, and the environment that shows corvane
// both: the test's own bus, and the configuration and runtime folders
// where Akonadi's client finds the server, as in the person's session.
class AkonadiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(collection().empty())
        << "run through tests/akonadi_session.sh";
    environment_ = store_.environment();
    for (const char* name :
         {"DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
      environment_[name] = fixtureValue(name);
    store_.writeFile(
        "acct/home/overdue.ics",
        todoText("overdue@tests", "Overdue in the vdir",
                 {"DUE:20200101T090000Z", "CREATED:20191201T090000Z",
                  "LAST-MODIFIED:20191201T090000Z"}));
  }

  RunResult run(const std::vector<std::string>& args) {
    return runCorvane(args, environment_);
  }
  // Whether a change answered success (it carries no data).
  bool succeeded(const std::vector<std::string>& args) {
    RunResult done = run(args);
    EXPECT_EQ(envelopeOf(done), Json({{"success", true}})) << done.out;
    return envelopeOf(done) == Json({{"success", true}});
  }

  TempStore store_;
  Environment environment_;
};

// The to-dos that the queries read, made once: a date due, a zoned due, a
// completed one with notes, a repeating one with an end, and a UID with a
// slash and a percent sign. Their reminder identifiers.
struct Errands {
  std::string stamps, berlin, taxes, plants, stampsItem;
};
const Errands& errands() {
  static const Errands made = [] {
    const std::string list = "akonadi:" + collection() + "/";
    Errands e;
    e.stampsItem = create(
        todoText("post/office%1", "Buy stamps", {"DUE;VALUE=DATE:20200310"}));
    e.stamps = list + e.stampsItem;
    e.berlin =
        list + create(todoText("berlin", "Call Berlin",
                               {"DUE;TZID=Europe/Berlin:20990310T090000"}));
    e.taxes = list +
              create(todoText("taxes", "File taxes",
                              {"STATUS:COMPLETED", "COMPLETED:20240102T000000Z",
                               "DESCRIPTION:Receipts in the blue folder"}));
    e.plants = list + create(todoText(
                          "plants", "Water the plants",
                          {"DTSTART:20200105T090000Z", "DUE:20200105T090000Z",
                           "RRULE:FREQ=WEEKLY;UNTIL=20200301T000000Z"}));
    return e;
  }();
  return made;
}

// Declared first, so that the collection holds the errands alone when
// these run: the tests after them add to-dos of their own.
TEST_F(AkonadiTest, ListsShowTheVdirsThenAkonadis) {
  RunResult coloured = seed({"colour", collection(), "#12ab34"});
  ASSERT_EQ(coloured.exitStatus, 0) << coloured.err;
  Json lists = dataOf(run({"list"}), "list");
  ASSERT_EQ(lists.size(), 3u) << lists.dump(1);
  EXPECT_EQ(lists[0].value("calendarIdentifier", ""), "acct/home");
  // By account title: the resource's name, which is not the collection's
  // title for the read-only one.
  EXPECT_EQ(
      lists[1],
      Json({{"calendarIdentifier",
             "akonadi:" + fixtureValue("AKONADI_TEST_READ_ONLY")},
            {"title", "Holidays"},
            {"type", 0},
            {"allowsContentModifications", false},
            {"source", {{"title", "Published calendars"}, {"sourceType", 0}}},
            {"color", "inherit"}}))
      << lists.dump(1);
  EXPECT_EQ(lists[2],
            Json({{"calendarIdentifier", "akonadi:" + collection()},
                  {"title", "Tasks file"},
                  {"type", 0},
                  {"allowsContentModifications", true},
                  {"source", {{"title", "Tasks file"}, {"sourceType", 0}}},
                  {"color", "#12AB34"}}))
      << lists.dump(1);
}

TEST_F(AkonadiTest, QueriesReadAkonadiBesideTheVdir) {
  const Errands& e = errands();
  const std::string list = "akonadi:" + collection();
  const std::string overdue = "acct/home/overdue";
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> ids;  // in the order shown
    bool ordered;                  // else in the stores' order
  };
  const std::vector<Case> cases = {
      {{"reminders", list}, {e.stamps, e.berlin, e.taxes, e.plants}, false},
      {{"reminders", list, "completed"}, {e.taxes}, true},
      {{"reminders", list, "incomplete", "deadline"},
       {e.plants, e.stamps, e.berlin},
       true},
      {{"special_reminders", "today"}, {overdue, e.plants, e.stamps}, false},
      {{"special_reminders", "scheduled"},
       {overdue, e.berlin, e.plants, e.stamps},
       false},
  };
  std::set<std::string> printed;
  for (const auto& c : cases) {
    std::vector<std::string> ids = idsOf(dataOf(run(c.args), c.args[0]));
    printed.insert(ids.begin(), ids.end());
    std::vector<std::string> expected = c.ids;
    if (!c.ordered) {
      // The vdir's reminders come first, then Akonadi's, in an order of
      // Akonadi's own.
      auto inVdir = [](const std::string& id) {
        return !id.starts_with("akonadi:");
      };
      EXPECT_TRUE(std::ranges::is_partitioned(ids, inVdir)) << c.args[0];
      std::sort(std::ranges::partition_point(ids, inVdir), ids.end());
      std::sort(std::ranges::partition_point(expected, inVdir), expected.end());
    }
    EXPECT_EQ(ids, expected) << c.args[0] << " " << c.args.back();
  }

  // What "get" shows of every identifier printed.
  const std::map<std::string, Json> records = {
      {overdue, {{"title", "Overdue in the vdir"}}},
      {e.stamps,
       {{"title", "Buy stamps"},
        {"dueDate", "2020-03-10T00:00:00Z"},
        {"isCompleted", false},
        {"hasRecurrenceRules", false}}},
      {e.berlin,
       {{"title", "Call Berlin"}, {"dueDate", "2099-03-10T08:00:00Z"}}},
      {e.taxes,
       {{"title", "File taxes"},
        {"dueDate", nullptr},
        {"notes", "Receipts in the blue folder"},
        {"isCompleted", true}}},
      {e.plants,
       {{"title", "Water the plants"},
        {"dueDate", "2020-01-05T09:00:00Z"},
        {"hasRecurrenceRules", true},
        {"recurrenceDescription", "Weekly"}}},
  };
  EXPECT_EQ(printed.size(), records.size());
  for (const std::string& id : printed) {
    Json got = dataOf(run({"get", id}), id);
    if (!got.is_object()) continue;
    EXPECT_EQ(got.value("id", ""), id);
    if (id != overdue) {
      EXPECT_EQ(got.value("calendar", ""), list) << id;
    }
    auto expected = records.find(id);
    ASSERT_NE(expected, records.end()) << id;
    for (const auto& [name, value] : expected->second.items())
      EXPECT_EQ(got.value(name, Json()), value) << id << " " << name;
  }

  // Identifiers Akonadi never issued, or not in this form, name nothing;
  // so does an item's id beside a collection that does not hold it.
  const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
      {{"get", "akonadi:x"}, "Reminder not found"},
      {{"get", "akonadi:999999/1"}, "Reminder not found"},
      {{"get", "akonadi:1/999999"}, "Reminder not found"},
      {{"get", list + "/999999"}, "Reminder not found"},
      {{"get", "akonadi:1/" + e.stampsItem}, "Reminder not found"},
      {{"toggle", list + "/999999", "true"}, "Reminder not found"},
      {{"delete", "akonadi:999999/1"}, "Reminder not found"},
      {{"reminders", "akonadi:x"}, "List not found with ID: akonadi:x"},
      {{"reminders", "akonadi:999999"},
       "List not found with ID: akonadi:999999"},
  };
  for (const auto& [args, error] : errors)
    EXPECT_EQ(errorOf(run(args)), error) << args[0] << " " << args[1];
}

TEST_F(AkonadiTest, ToggleAndDeleteChangeWhatAkonadiHolds) {
  const std::string item = create(
      todoText("sweep", "Sweep the floor",
               {"CATEGORIES:home,floor", "X-ODD-PROPERTY:kept as it is"}));
  const std::string dust = create(todoText("dust", "Dust the shelves"));
  const std::string sweep = "akonadi:" + collection() + "/" + item;
  const int before = stored(item).revision;

  ASSERT_TRUE(succeeded({"toggle", sweep, "true"}));
  Stored done = stored(item);
  EXPECT_GT(done.revision, before);
  for (const char* line :
       {"STATUS:COMPLETED", "CATEGORIES:home,floor",
        "X-ODD-PROPERTY:kept as it is", "SUMMARY:Sweep the floor"})
    EXPECT_TRUE(holds(done.payload, line)) << line << "\n" << done.payload;
  EXPECT_TRUE(holdsLineStarting(done.payload, "COMPLETED:")) << done.payload;
  EXPECT_EQ(dataOf(run({"get", sweep}), "get").value("isCompleted", false),
            true);
  EXPECT_TRUE(within(20,
                     [] {
                       std::string todo = fileTodo("sweep");
                       return holds(todo, "STATUS:COMPLETED") &&
                              holds(todo, "X-ODD-PROPERTY:kept as it is");
                     }))
      << "the resource's file:\n"
      << fileTodo("sweep");

  ASSERT_TRUE(succeeded({"toggle", sweep, "false"}));
  Stored reopened = stored(item);
  EXPECT_FALSE(holds(reopened.payload, "STATUS:COMPLETED")) << reopened.payload;
  EXPECT_FALSE(holdsLineStarting(reopened.payload, "COMPLETED:"))
      << reopened.payload;
  EXPECT_EQ(dataOf(run({"get", sweep}), "get").value("isCompleted", true),
            false);

  ASSERT_TRUE(succeeded({"delete", sweep}));
  EXPECT_FALSE(stored(item).found);
  EXPECT_TRUE(stored(dust).found);
  EXPECT_EQ(errorOf(run({"get", sweep})), "Reminder not found");
  EXPECT_EQ(errorOf(run({"delete", sweep})), "Reminder not found");
  EXPECT_TRUE(within(20, [] {
    return fileTodo("sweep").empty() && !fileTodo("dust").empty();
  })) << "the resource's file still holds it";
  ASSERT_TRUE(succeeded({"delete", "akonadi:" + collection() + "/" + dust}));
}

// The series moves on in what Akonadi holds, KDE's own pointer to the
// current occurrence with it, and each completed occurrence is there once.
TEST_F(AkonadiTest, CompletingARepeatingToDoMovesTheSeriesOn) {
  const std::string item = create(todoText(
      "ferns", "Water the ferns",
      {"DTSTART:20990105T090000Z", "DUE:20990105T090000Z",
       "RRULE:FREQ=DAILY;COUNT=3",
       "X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME:20990105T090000Z"}));
  const std::string series = "akonadi:" + collection() + "/" + item;

  struct Step {
    std::string seriesDue, pointer, count;
    std::vector<std::string> completedDues;  // sorted
  };
  const std::vector<Step> steps = {
      {"2099-01-06T09:00:00Z",
       "20990106T090000Z",
       "COUNT=2",
       {"2099-01-05T09:00:00Z"}},
      {"2099-01-07T09:00:00Z",
       "20990107T090000Z",
       "COUNT=1",
       {"2099-01-05T09:00:00Z", "2099-01-06T09:00:00Z"}},
  };
  for (const Step& step : steps) {
    ASSERT_TRUE(succeeded({"toggle", series, "true"})) << step.seriesDue;
    std::vector<std::string> completedDues;
    Json shown;
    for (const Json& record :
         dataOf(run({"reminders", "akonadi:" + collection()}), "reminders"))
      if (record.value("title", "") == "Water the ferns") {
        if (record.value("id", "") == series)
          shown = record;
        else if (record.value("isCompleted", false) &&
                 !record.value("hasRecurrenceRules", true))
          completedDues.push_back(record.value("dueDate", ""));
      }
    std::ranges::sort(completedDues);
    EXPECT_EQ(completedDues, step.completedDues) << step.seriesDue;
    EXPECT_EQ(shown.value("dueDate", ""), step.seriesDue);
    EXPECT_EQ(shown.value("isCompleted", true), false) << step.seriesDue;
    Stored moved = stored(item);
    // As KDE's calendar library reads it back from what corvane wrote.
    EXPECT_TRUE(
        holds(moved.payload,
              "X-KDE-LIBKCAL-DTRECURRENCE;VALUE=DATE-TIME:" + step.pointer))
        << moved.payload;
    EXPECT_NE(moved.payload.find(step.count), std::string::npos)
        << moved.payload;
  }
}

// Another client changes the to-do through Akonadi after corvane read it
// and before its write reaches Akonadi: Akonadi's revision check refuses
// corvane's write, and the other client's version stays.
TEST_F(AkonadiTest, AChangeByAnotherClientInBetweenIsRefused) {
  const std::string text = todoText("mop", "Mop the floor");
  const std::string item = create(text);
  const std::string mop = "akonadi:" + collection() + "/" + item;
  std::string changed = text;
  changed.replace(changed.find("Mop the floor"), 13, "Changed elsewhere");
  Environment racing = environment_;
  racing["LD_PRELOAD"] = AKONADI_MODIFY_SHIM;
  racing["AKONADI_SHIM_BEFORE_MODIFY"] = std::string(AKONADI_SEED) +
                                         " modify " + item + " '" + changed +
                                         "' >/dev/null";
  EXPECT_EQ(errorOf(runCorvane({"toggle", mop, "true"}, racing)),
            "Error updating reminder: The reminder was changed by another "
            "program after corvane read it; nothing was written.");
  Stored kept = stored(item);
  EXPECT_TRUE(holds(kept.payload, "SUMMARY:Changed elsewhere")) << kept.payload;
  EXPECT_FALSE(holds(kept.payload, "STATUS:COMPLETED")) << kept.payload;
  ASSERT_TRUE(succeeded({"delete", mop}));
}

// A session bus that would start Akonadi on the first call to its names,
// as a person's bus does, but where Akonadi does not run: corvane shows
// the vdir alone, as without the module, in no more time, and makes the
// bus start nothing.
TEST_F(AkonadiTest, ABusWithoutAkonadiStartsNothing) {
  Environment own = ownEnvironment();
  own.erase("DBUS_SESSION_BUS_ADDRESS");
  // Akonadi's names are the bus's only services; starting one leaves a
  // mark instead of an Akonadi.
  const auto services = store_.base() / "services";
  std::filesystem::create_directories(services);
  std::vector<std::filesystem::path> marks;
  for (const std::string name :
       {"org.freedesktop.Akonadi.Control", "org.freedesktop.Akonadi"}) {
    marks.push_back(store_.base() / ("started " + name));
    std::ofstream(services / (name + ".service"))
        << "[D-BUS Service]\nName=" << name << "\nExec=/usr/bin/touch \""
        << marks.back().string() << "\"\n";
  }
  const auto config = store_.base() / "bus.conf";
  std::ofstream(config)
      << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
         "<auth>EXTERNAL</auth><servicedir>"
      << services.string()
      << "</servicedir><policy context=\"default\">"
         "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
  RunResult daemon =
      runProgram("/usr/bin/dbus-daemon",
                 {"dbus-daemon", "--config-file=" + config.string(), "--fork",
                  "--print-address=1", "--print-pid=1"},
                 own);
  const std::string address = daemon.out.substr(0, daemon.out.find('\n'));
  // Ended on every path, by its id.
  struct Ended {
    pid_t pid;
    ~Ended() {
      if (pid > 0) ::kill(pid, SIGTERM);
    }
  } bus{std::atoi(daemon.out.substr(daemon.out.find('\n') + 1).c_str())};
  ASSERT_FALSE(address.empty()) << daemon.err;
  ASSERT_GT(bus.pid, 0) << daemon.out;

  Environment noBus = environment_, emptyBus = environment_;
  noBus.erase("DBUS_SESSION_BUS_ADDRESS");
  emptyBus["DBUS_SESSION_BUS_ADDRESS"] = address;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"list"},
           {"special_reminders", "today"},
           {"get", "acct/home/overdue"},
           {"toggle", "akonadi:1/1", "true"}}) {
    const RunResult alone = runCorvane(args, noBus);
    EXPECT_TRUE(envelopeOf(alone).is_object()) << args[0];
    auto start = steady_clock::now();
    const RunResult beside = runCorvane(args, emptyBus);
    const double seconds =
        std::chrono::duration<double>(steady_clock::now() - start).count();
    EXPECT_TRUE(envelopeOf(beside).is_object()) << args[0];
    EXPECT_EQ(beside.out, alone.out) << args[0];
    EXPECT_LT(seconds, 1.0) << args[0];
  }
  EXPECT_EQ(dataOf(runCorvane({"list"}, emptyBus), "list").size(), 1u);
  for (const auto& mark : marks)
    EXPECT_FALSE(std::filesystem::exists(mark)) << mark;
}

}  // namespace
}  // namespace corvane::e2e
