#include "reminders/reminder_query.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "tests/builders.h"
#include "tests/memory_store.h"
#include "tests/scoped_environment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

// The current time of every query here, so that "today" is one fixed day
// however long a test takes and whenever it runs.
constexpr Instant kNow = std::chrono::sys_days{2024y / 3 / 5} + 14h + 7min + 9s;

// Collects what a query answers, from whichever thread it comes.
class Answers {
 public:
  QueryAnswer function() {
    return [this](Result<Json> answer) {
      std::lock_guard lock(mutex_);
      ++count_;
      thread_ = std::this_thread::get_id();
      last_.emplace(std::move(answer));
    };
  }
  int count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }
  std::thread::id thread() const {
    std::lock_guard lock(mutex_);
    return thread_;
  }
  const Result<Json>& last() const { return *last_; }

 private:
  mutable std::mutex mutex_;
  int count_ = 0;
  std::thread::id thread_;
  std::optional<Result<Json>> last_;
};

RecurrenceDescriber noDescriptions() {
  return [](const std::string&) { return std::nullopt; };
}

Reminder reminderIn(const std::string& list, const std::string& name) {
  Reminder reminder;
  reminder.identifier = list + "/" + name;
  reminder.calendarIdentifier = list;
  reminder.title = name;
  return reminder;
}

std::vector<std::string> idsOf(const Json& records) {
  std::vector<std::string> ids;
  for (const auto& record : records) ids.push_back(record["id"]);
  return ids;
}

class QueryTest : public ::testing::Test {
 protected:
  QueryTest() : store_(std::make_unique<MemoryStore>()) {
    store_->addList(listNamed("home/tasks", "Tasks"));
    store_->addList(listNamed("work/todo", "Todo"));
  }

  // Waits for every fetch thread, so that all answers have arrived.
  void finish() { store_.reset(); }

  void inList(const std::string& listId, const std::string& status = "all",
              const std::string& sortBy = "none") {
    getRemindersInList(*store_, listId, status, sortBy, noDescriptions(), kNow,
                       answers_.function());
  }
  void inSpecialList(const std::string& listId,
                     const std::string& status = "all",
                     const std::string& sortBy = "none") {
    getRemindersInSpecialList(*store_, listId, status, sortBy, noDescriptions(),
                              kNow, answers_.function());
  }
  // The records of a successful answer, after all answers have arrived.
  Json records() {
    finish();
    EXPECT_EQ(answers_.count(), 1);
    if (answers_.count() == 0) return Json::array();
    const auto& answer = answers_.last();
    EXPECT_TRUE(answer.ok()) << (answer.ok() ? "" : answer.reason());
    if (!answer.ok()) return Json::array();
    EXPECT_TRUE(answer.value().is_array());
    return answer.value();
  }

  std::unique_ptr<MemoryStore> store_;
  Answers answers_;
};

TEST_F(QueryTest, UnknownListAnswersAtOnceWithoutFetching) {
  for (const char* id : {"home/nothing", "", "HOME/TASKS", "home/tasks/"}) {
    Answers answers;
    getRemindersInList(*store_, id, "all", "none", noDescriptions(), kNow,
                       answers.function());
    ASSERT_EQ(answers.count(), 1) << id;
    EXPECT_EQ(answers.thread(), std::this_thread::get_id()) << id;
    ASSERT_FALSE(answers.last().ok()) << id;
    EXPECT_EQ(answers.last().reason(),
              std::string("List not found with ID: ") + id);
  }
  EXPECT_EQ(store_->fetchCount(), 0);
}

TEST_F(QueryTest, KnownListFetchesOnceAndAnswersOnAnotherThreadOnce) {
  store_->addReminder(reminderIn("home/tasks", "a"));
  store_->addReminder(reminderIn("work/todo", "b"));
  store_->addReminder(reminderIn("home/tasks", "c"));
  inList("home/tasks");
  EXPECT_EQ(store_->fetchCount(), 1);
  Json result = records();
  EXPECT_NE(answers_.thread(), std::this_thread::get_id());
  EXPECT_EQ(idsOf(result),
            (std::vector<std::string>{"home/tasks/a", "home/tasks/c"}));
  EXPECT_EQ(result[0]["calendar"], "home/tasks");
  EXPECT_EQ(result[0].size(), 11u);
}

TEST_F(QueryTest, ListQueryFiltersAndSorts) {
  Reminder early = reminderIn("home/tasks", "early");
  early.dueDateComponents = dueAt(Instant{} + 1'700'000'000s);
  Reminder late = reminderIn("home/tasks", "late");
  late.dueDateComponents = dueAt(Instant{} + 1'700'000'100s);
  Reminder done = reminderIn("home/tasks", "done");
  done.isCompleted = true;
  done.dueDateComponents = dueAt(Instant{} + 1'600'000'000s);
  Reminder undated = reminderIn("home/tasks", "undated");
  for (const auto& r : {undated, late, done, early}) store_->addReminder(r);
  inList("home/tasks", "INCOMPLETE", "deadline");
  EXPECT_EQ(idsOf(records()),
            (std::vector<std::string>{"home/tasks/early", "home/tasks/late",
                                      "home/tasks/undated"}));
}

TEST_F(QueryTest, LargeAnswerKeepsSortedOrderAndEveryRecord) {
  // Enough reminders for the records to be built on several threads.
  std::vector<std::string> expected;
  for (int i = 0; i < 3000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "r%04d", i);
    Reminder reminder = reminderIn("home/tasks", name);
    reminder.dueDateComponents = dueAt(Instant{} + 1'700'000'000s + i * 60s);
    expected.push_back(reminder.identifier);
  }
  for (int i = 2999; i >= 0; --i) {  // stored in the reverse order
    Reminder reminder = reminderIn("home/tasks", expected[i].substr(11));
    reminder.dueDateComponents = dueAt(Instant{} + 1'700'000'000s + i * 60s);
    store_->addReminder(reminder);
  }
  inList("home/tasks", "all", "deadline");
  Json result = records();
  EXPECT_EQ(idsOf(result), expected);
  for (size_t i = 0; i < result.size(); ++i)
    ASSERT_EQ(result[i]["title"], expected[i].substr(11)) << i;
}

TEST_F(QueryTest, FailingFetchIsReported) {
  store_->addReminder(reminderIn("home/tasks", "a"));
  store_->failFetches();
  inList("home/tasks");
  finish();
  ASSERT_EQ(answers_.count(), 1);
  ASSERT_FALSE(answers_.last().ok());
  EXPECT_EQ(answers_.last().reason(), "Unable to fetch reminders");
}

TEST_F(QueryTest, FailingSpecialFetchIsReported) {
  store_->failFetches();
  inSpecialList("scheduled");
  finish();
  ASSERT_EQ(answers_.count(), 1);
  ASSERT_FALSE(answers_.last().ok());
  EXPECT_EQ(answers_.last().reason(), "Unable to fetch reminders");
}

TEST_F(QueryTest, EmptyListIsAnEmptyArray) {
  store_->addReminder(reminderIn("work/todo", "elsewhere"));
  inList("home/tasks");
  Json result = records();
  EXPECT_TRUE(result.is_array());
  EXPECT_TRUE(result.empty());
}

TEST_F(QueryTest, OnlyTheTwoSmartListWordsAreKnown) {
  for (const char* id :
       {"Today", "", "TODAY", " today", "today ", "Scheduled", "home/tasks"}) {
    Answers answers;
    getRemindersInSpecialList(*store_, id, "all", "none", noDescriptions(),
                              kNow, answers.function());
    ASSERT_EQ(answers.count(), 1) << '"' << id << '"';
    EXPECT_EQ(answers.thread(), std::this_thread::get_id()) << id;
    ASSERT_FALSE(answers.last().ok()) << id;
    EXPECT_EQ(answers.last().reason(),
              "Invalid special list ID. Use 'today' or 'scheduled'.")
        << id;
  }
  EXPECT_EQ(store_->fetchCount(), 0);
}

TEST_F(QueryTest, ScheduledKeepsEveryReminderWithComponents) {
  Reminder past = reminderIn("home/tasks", "past");
  past.dueDateComponents = dueAt(Instant{} + 1'000'000'000s);
  Reminder undated = reminderIn("home/tasks", "undated");
  Reminder noCalendar = reminderIn("work/todo", "no-calendar");
  noCalendar.dueDateComponents = dueAt(kNow);
  noCalendar.dueDateComponents->hasCalendar = false;
  Reminder impossible = reminderIn("work/todo", "impossible");
  impossible.dueDateComponents = onDay(2030, 2, 31);
  Reminder doneFuture = reminderIn("work/todo", "done-future");
  doneFuture.isCompleted = true;
  doneFuture.dueDateComponents = dueAt(Instant{} + 4'000'000'000s);
  for (const auto& r : {past, undated, noCalendar, impossible, doneFuture})
    store_->addReminder(r);

  inSpecialList("scheduled");
  Json result = records();
  EXPECT_EQ(idsOf(result),
            (std::vector<std::string>{
                "home/tasks/past", "work/todo/no-calendar",
                "work/todo/impossible", "work/todo/done-future"}));
  ASSERT_EQ(result.size(), 4u);
  EXPECT_TRUE(result[1]["dueDate"].is_null());
  EXPECT_TRUE(result[2]["dueDate"].is_null());
  EXPECT_EQ(result[0]["calendar"], "home/tasks");
  EXPECT_EQ(result[3]["calendar"], "work/todo");
}

TEST_F(QueryTest, ScheduledFiltersByCompletion) {
  Reminder open = reminderIn("home/tasks", "open");
  open.dueDateComponents = dueAt(kNow + 3600s);
  Reminder done = reminderIn("work/todo", "done");
  done.isCompleted = true;
  done.dueDateComponents = dueAt(kNow - 3600s);
  Reminder doneUndated = reminderIn("work/todo", "done-undated");
  doneUndated.isCompleted = true;
  for (const auto& r : {open, done, doneUndated}) store_->addReminder(r);
  const struct {
    const char* status;
    const char* sortBy;
    std::vector<std::string> expected;
  } cases[] = {
      {"incomplete", "none", {"home/tasks/open"}},
      {"Completed", "none", {"work/todo/done"}},
      {"all", "none", {"home/tasks/open", "work/todo/done"}},
      {"all", "deadline", {"work/todo/done", "home/tasks/open"}},
  };
  for (const auto& c : cases) {
    auto store = std::make_unique<MemoryStore>();
    for (const auto& r : store_->reminders()) store->addReminder(*r);
    Answers answers;
    getRemindersInSpecialList(*store, "scheduled", c.status, c.sortBy,
                              noDescriptions(), kNow, answers.function());
    store.reset();  // waits for the answer
    ASSERT_EQ(answers.count(), 1) << c.status;
    ASSERT_TRUE(answers.last().ok()) << c.status;
    EXPECT_EQ(idsOf(answers.last().value()), c.expected)
        << c.status << " " << c.sortBy;
  }
}

TEST_F(QueryTest, TodayTakesOpenRemindersDueByTheEndOfToday) {
  std::optional<Instant> end = endOfDay(kNow);
  ASSERT_TRUE(end);
  Reminder lastYear = reminderIn("home/tasks", "last-year");
  lastYear.dueDateComponents = dueAt(kNow - 366 * 24h);
  Reminder yesterday = reminderIn("work/todo", "yesterday");
  yesterday.dueDateComponents = dueAt(kNow - 24h);
  Reminder atTheEnd = reminderIn("home/tasks", "at-the-end");
  atTheEnd.dueDateComponents = dueAt(*end);
  Reminder justAfter = reminderIn("home/tasks", "just-after");
  justAfter.dueDateComponents = dueAt(*end + 1s);
  Reminder tomorrow = reminderIn("work/todo", "tomorrow");
  tomorrow.dueDateComponents = dueAt(*end + 12h);
  Reminder undated = reminderIn("home/tasks", "undated");
  Reminder doneYesterday = reminderIn("home/tasks", "done-yesterday");
  doneYesterday.isCompleted = true;
  doneYesterday.dueDateComponents = dueAt(kNow - 24h);
  for (const auto& r : {lastYear, yesterday, atTheEnd, justAfter, tomorrow,
                        undated, doneYesterday})
    store_->addReminder(r);

  inSpecialList("today");
  Json result = records();
  EXPECT_EQ(idsOf(result), (std::vector<std::string>{"home/tasks/last-year",
                                                     "work/todo/yesterday",
                                                     "home/tasks/at-the-end"}));
  ASSERT_EQ(result.size(), 3u);
  EXPECT_EQ(result[1]["calendar"], "work/todo");
  EXPECT_EQ(result[0]["calendar"], "home/tasks");
}

TEST_F(QueryTest, TodayWithCompletedIsAlwaysEmpty) {
  Reminder done = reminderIn("home/tasks", "done");
  done.isCompleted = true;
  done.dueDateComponents = dueAt(kNow - 24h);
  Reminder open = reminderIn("home/tasks", "open");
  open.dueDateComponents = dueAt(kNow - 24h);
  store_->addReminder(done);
  store_->addReminder(open);
  inSpecialList("today", "completed");
  EXPECT_TRUE(records().empty());
}

TEST_F(QueryTest, TodaySortsOnRequest) {
  Reminder older = reminderIn("home/tasks", "older");
  older.dueDateComponents = dueAt(kNow - 48h);
  Reminder newer = reminderIn("work/todo", "newer");
  newer.dueDateComponents = dueAt(kNow - 24h);
  store_->addReminder(newer);
  store_->addReminder(older);
  inSpecialList("today", "INCOMPLETE", "deadline");
  EXPECT_EQ(idsOf(records()),
            (std::vector<std::string>{"home/tasks/older", "work/todo/newer"}));
}

Instant utc(std::chrono::year_month_day day, std::chrono::seconds time) {
  return Instant{std::chrono::sys_days{day}.time_since_epoch()} + time;
}

std::string shown(Instant instant) {
  std::time_t seconds = instant.time_since_epoch().count();
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
  return text;
}

std::string localDate(Instant instant) { return shown(instant).substr(0, 10); }

TEST(EndOfDayTest, LastSecondOfTheLocalDay) {
  using std::chrono::year;
  const struct {
    const char* zone;
    Instant input;
    Instant expected;
  } cases[] = {
      {"UTC", utc(2024y / 3 / 5, 0s), utc(2024y / 3 / 5, 23h + 59min + 59s)},
      {"UTC", utc(2024y / 3 / 5, 23h + 59min + 59s),
       utc(2024y / 3 / 5, 23h + 59min + 59s)},
      {"UTC", utc(2024y / 12 / 31, 12h),
       utc(2024y / 12 / 31, 23h + 59min + 59s)},
      // 00:00:01 and 23:59:58 local, fourteen hours east.
      {"Pacific/Kiritimati", utc(2024y / 3 / 5, 10h + 1s),
       utc(2024y / 3 / 6, 9h + 59min + 59s)},
      {"Pacific/Kiritimati", utc(2024y / 3 / 5, 9h + 59min + 58s),
       utc(2024y / 3 / 5, 9h + 59min + 59s)},
      // Eleven hours west.
      {"Pacific/Pago_Pago", utc(2024y / 3 / 5, 11h + 1s),
       utc(2024y / 3 / 6, 10h + 59min + 59s)},
      {"Pacific/Pago_Pago", utc(2024y / 3 / 6, 10h + 59min + 58s),
       utc(2024y / 3 / 6, 10h + 59min + 59s)},
      {"America/Sao_Paulo", utc(2024y / 3 / 5, 3h + 1s),
       utc(2024y / 3 / 6, 2h + 59min + 59s)},
      // Summer time began at midnight: the day starts at 01:00 (-02).
      {"America/Sao_Paulo", utc(2018y / 11 / 4, 3h + 1s),
       utc(2018y / 11 / 5, 1h + 59min + 59s)},
      {"America/Sao_Paulo", utc(2018y / 11 / 4, 2h + 59min + 58s),
       utc(2018y / 11 / 4, 2h + 59min + 59s)},
      // Summer time ended at midnight: 23:00 to 23:59:59 came twice, and the
      // first 23:59:59 ends the day, even for an instant in the second pass.
      {"America/Sao_Paulo", utc(2019y / 2 / 16, 3h + 1s),
       utc(2019y / 2 / 17, 1h + 59min + 59s)},
      {"America/Sao_Paulo", utc(2019y / 2 / 17, 2h + 30min),
       utc(2019y / 2 / 17, 1h + 59min + 59s)},
      // Clocks changed in the small hours; the evening is in the new offset.
      {"Europe/Berlin", utc(2024y / 3 / 30, 23h + 1s),
       utc(2024y / 3 / 31, 21h + 59min + 59s)},
      {"Europe/Berlin", utc(2024y / 10 / 26, 22h + 1s),
       utc(2024y / 10 / 27, 22h + 59min + 59s)},
      {"America/New_York", utc(2024y / 3 / 10, 12h),
       utc(2024y / 3 / 11, 3h + 59min + 59s)},
      // Summer time begins at 23:00 (+01) on 31 March 2024, when the clocks
      // show 00:00 (+02) of 1 April: the day has no 23:59:59, and ends at
      // the jump.
      {"XST-1XDT,M3.5.0/23,M10.5.0/3", utc(2024y / 3 / 31, 11h),
       utc(2024y / 3 / 31, 22h)},
  };
  for (const auto& c : cases) {
    ScopedEnvironment environment;
    environment.set("TZ", c.zone);
    std::optional<Instant> end = endOfDay(c.input);
    ASSERT_TRUE(end) << c.zone << " " << shown(c.input);
    EXPECT_EQ(*end, c.expected)
        << c.zone << " " << shown(c.input) << " gave " << shown(*end);
    // The day's 23:59:59, or the jump that skips it: today until then.
    EXPECT_EQ(localDate(*end - 1s), localDate(c.input)) << c.zone;
  }
}

TEST(EndOfDayTest, TodayInEveryZone) {
  for (const char* zone :
       {"UTC", "Pacific/Kiritimati", "Pacific/Pago_Pago", "America/Sao_Paulo",
        "Europe/Berlin", "Asia/Kolkata", "EET-2"}) {
    ScopedEnvironment environment;
    environment.set("TZ", zone);
    std::optional<Instant> end = endOfDay(kNow);
    ASSERT_TRUE(end) << zone;
    EXPECT_EQ(shown(*end).substr(11, 8), "23:59:59") << zone;
    EXPECT_EQ(localDate(*end), localDate(kNow)) << zone;
    EXPECT_GE(*end, kNow) << zone;
    EXPECT_LT(*end - kNow, 26h) << zone;
  }
}

}  // namespace
}  // namespace corvane
