#include "store/items/item_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "store/ical/completion_plan.h"
#include "tests/calendar_text.h"
#include "tests/memory_backend.h"

namespace corvane {
namespace {

using namespace std::chrono;
using Call = MemoryBackend::Call;

const Instant kNow = sys_days{2026y / 3 / 5} + 14h;

const std::string kPlain = todoText("p", "Plain", {"DUE:20260301T090000Z"});
const std::string kSeries = todoText(
    "s", "Series",
    {"DTSTART:20260301T090000Z", "DUE:20260301T090000Z", "RRULE:FREQ=DAILY"});

ReminderList listOf(const std::string& identifier, bool changeable = true) {
  ReminderList list;
  list.identifier = identifier;
  list.title = identifier;
  list.allowsContentModifications = changeable;
  return list;
}

// A store of three items in two lists, over a backend the test can fail.
struct Store {
  Store() {
    auto backend = std::make_unique<MemoryBackend>();
    backend_ = backend.get();
    backend_->addList(listOf("a/l"));
    backend_->addList(listOf("a/m"));
    backend_->putItem("a/l", "p", kPlain);
    backend_->putItem("a/l", "s", kSeries);
    backend_->putItem("a/m", "q", todoText("q", "Other"));
    store_ =
        std::make_unique<ItemStore>(std::move(backend), [] { return kNow; });
  }

  std::optional<std::vector<ReminderPtr>> fetch(const ReminderQuery& query) {
    std::promise<std::optional<std::vector<ReminderPtr>>> answer;
    store_->fetchReminders(
        query, [&](auto reminders) { answer.set_value(reminders); });
    return answer.get_future().get();
  }

  Outcome toggle(const std::string& identifier, bool completed = true) {
    auto reminder = store_->lookUpReminder(identifier);
    if (!reminder) return reminder.failure();
    return store_->setCompleted(*reminder.value(), completed);
  }

  // The list's items as (name, completed).
  std::vector<std::pair<std::string, bool>> itemsOf(const std::string& list) {
    std::vector<std::pair<std::string, bool>> items;
    for (const auto& [name, text] : backend_->items(list))
      items.emplace_back(name,
                         text.find("STATUS:COMPLETED") != std::string::npos);
    return items;
  }

  // The completed copy that completing the series' current occurrence adds.
  static CompletionPlan::Occurrence occurrenceOf(const std::string& series) {
    auto plan = planCompletion(series, true, kNow);
    EXPECT_TRUE(plan && plan.value().occurrence);
    return *plan.value().occurrence;
  }

  MemoryBackend* backend_;
  std::unique_ptr<ItemStore> store_;
};

// Which failures a fetch leaves out and which fail it.
TEST(ItemStoreTest, FetchSucceedsOnlyWhenEveryListWasRead) {
  Store s;
  const struct {
    const char* name;
    std::string failing;  // an item or a list
    FailureKind kind;
    bool named;  // the query names the lists
    std::optional<size_t> found;
  } cases[] = {
      {"nothing fails", "", FailureKind::kOther, false, 3},
      {"an item the user may not read", "a/l/p", FailureKind::kDenied, false,
       2},
      {"an item gone meanwhile, or no item", "a/l/p", FailureKind::kNotFound,
       true, 2},
      {"an input/output error", "a/l/p", FailureKind::kUnavailable, false,
       std::nullopt},
      {"too few descriptors", "a/l/p", FailureKind::kExhausted, true,
       std::nullopt},
      {"no memory", "a/l/p", FailureKind::kNoMemory, false, std::nullopt},
      {"a list the user may not read, among all", "a/m", FailureKind::kDenied,
       false, 2},
      {"a list asked for that cannot be read", "a/m", FailureKind::kDenied,
       true, std::nullopt},
      {"a list among all that fails", "a/m", FailureKind::kUnavailable, false,
       std::nullopt},
  };
  for (const auto& c : cases) {
    Store fresh;
    if (!c.failing.empty())
      fresh.backend_->failItem(c.failing, Failure{"failed", c.kind});
    ReminderQuery query;
    if (c.named) query.listIdentifiers = std::vector<std::string>{"a/l", "a/m"};
    auto reminders = fresh.fetch(query);
    ASSERT_EQ(reminders.has_value(), c.found.has_value()) << c.name;
    if (reminders) {
      EXPECT_EQ(reminders->size(), *c.found) << c.name;
    }
  }
  ReminderQuery missing;
  missing.listIdentifiers = std::vector<std::string>{"a/l", "a/none"};
  EXPECT_FALSE(s.fetch(missing)) << "a list asked for that is not there";
  s.backend_->failCall(Call::kReadItems, Failure{"down", FailureKind::kOther});
  EXPECT_FALSE(s.fetch(ReminderQuery{})) << "a store that cannot be read";
}

// What this process read is remembered: a second lookup, and a lookup of a
// fetched reminder, read nothing again; absence and failure are not.
TEST(ItemStoreTest, LookupsRememberWhatWasRead) {
  Store s;
  auto first = s.store_->lookUpReminder("a/l/p");
  ASSERT_TRUE(first);
  EXPECT_EQ(first.value()->calendarIdentifier, "a/l");
  auto fetched = s.fetch(ReminderQuery{});
  ASSERT_TRUE(fetched);
  s.backend_->putItem("a/l", "new", todoText("n", "New"));
  s.backend_->failCall(Call::kReadItem, Failure{"down"});
  EXPECT_EQ(s.store_->lookUpReminder("a/l/p").value().get(),
            first.value().get());
  EXPECT_EQ(s.store_->lookUpReminder("a/m/q").value().get(),
            fetched->back().get());
  EXPECT_FALSE(s.store_->lookUpReminder("a/l/new")) << "read nothing till now";

  auto absent = s.store_->lookUpReminder("a/l/later");
  EXPECT_EQ(absent.kind(), FailureKind::kNotFound);
  s.backend_->putItem("a/l", "later", todoText("later", "Later"));
  EXPECT_TRUE(s.store_->lookUpReminder("a/l/later"));

  s.backend_->putItem("a/l", "broken", todoText("b", "Broken"));
  s.backend_->failItem(
      "a/l/broken", Failure{"Input/output error.", FailureKind::kUnavailable});
  auto unreadable = s.store_->lookUpReminder("a/l/broken");
  ASSERT_FALSE(unreadable);
  EXPECT_EQ(unreadable.kind(), FailureKind::kUnavailable);
  EXPECT_EQ(unreadable.reason(), "Input/output error.");

  s.backend_->putItem("a/l", "event",
                      calendarText("BEGIN:VEVENT\r\nUID:e\r\n"
                                   "END:VEVENT\r\n"));
  EXPECT_EQ(s.store_->lookUpReminder("a/l/event").kind(),
            FailureKind::kNotFound);
}

// What a toggle leaves in the list, with each write of a series' move
// failing in turn, and after a run that stopped half way.
TEST(ItemStoreTest, CompletingAnOccurrenceIsWholeOrNotAtAll) {
  Store s;
  const std::string copy = Store::occurrenceOf(kSeries).name;
  const std::vector<std::pair<std::string, bool>> before = {{"p", false},
                                                            {"s", false}};
  const std::vector<std::pair<std::string, bool>> moved = {
      {"p", false}, {"s", false}, {copy, true}};
  const struct {
    const char* name;
    std::optional<Call> failing;
    bool halfDone;  // a copy is there from a run that stopped
    std::optional<FailureKind> failure;
    std::vector<std::pair<std::string, bool>> after;
  } cases[] = {
      {"the occurrence completed, the series moved", {}, false, {}, moved},
      {"a retry after a stop finds its copy and moves the series",
       {},
       true,
       {},
       moved},
      {"the copy cannot be written", Call::kAdd, false,
       FailureKind::kUnavailable, before},
      {"the series cannot be written: the copy is taken away", Call::kReplace,
       false, FailureKind::kUnavailable, before},
  };
  for (const auto& c : cases) {
    Store fresh;
    if (c.halfDone)
      fresh.backend_->putItem("a/l", copy, Store::occurrenceOf(kSeries).text);
    if (c.failing)
      fresh.backend_->failCall(*c.failing, Failure{"Input/output error.",
                                                   FailureKind::kUnavailable});
    Outcome outcome = fresh.toggle("a/l/s");
    EXPECT_EQ(outcome.ok(), !c.failure) << c.name;
    if (!outcome && c.failure) {
      EXPECT_EQ(outcome.kind(), *c.failure) << c.name;
    }
    EXPECT_EQ(fresh.itemsOf("a/l"), c.after) << c.name;
    if (c.after == moved) {
      auto series = fresh.backend_->items("a/l")[1].second;
      EXPECT_NE(series.find("DTSTART:20260302T090000Z"), std::string::npos)
          << c.name;
    }
  }

  // The undo's own failure is told beside the change's.
  s.backend_->failCall(Call::kReplace, Failure{"Disk full."});
  s.backend_->failCall(Call::kRemove, Failure{"Read-only file system."});
  Outcome both = s.toggle("a/l/s");
  ASSERT_FALSE(both);
  EXPECT_NE(both.reason().find("Disk full."), std::string::npos);
  EXPECT_NE(both.reason().find("Read-only file system."), std::string::npos);

  // An item of the copy's name that is not that copy is left alone.
  Store taken;
  taken.backend_->putItem("a/l", copy, todoText("other", "Someone else's"));
  Outcome refused = taken.toggle("a/l/s");
  EXPECT_EQ(refused.kind(), FailureKind::kExists);
  EXPECT_EQ(taken.backend_->items("a/l")[1].second, kSeries);
}

// Two toggles of one series at once complete it once.
TEST(ItemStoreTest, ConcurrentTogglesCompleteTheOccurrenceOnce) {
  for (int trial = 0; trial < 20; ++trial) {
    Store fresh;
    auto reminder = fresh.store_->lookUpReminder("a/l/s");
    ASSERT_TRUE(reminder);
    Outcome first = done(), second = done();
    std::thread other(
        [&] { first = fresh.store_->setCompleted(*reminder.value(), true); });
    second = fresh.store_->setCompleted(*reminder.value(), true);
    other.join();
    EXPECT_TRUE(first || second) << first.reason() << second.reason();
    auto items = fresh.itemsOf("a/l");
    ASSERT_EQ(items.size(), 3u) << trial;
    EXPECT_NE(
        fresh.backend_->items("a/l")[1].second.find("DTSTART:20260302T090000Z"),
        std::string::npos);
  }
}

// Changes refused before anything is written.
TEST(ItemStoreTest, RefusedChangesWriteNothing) {
  Store s;
  s.backend_->addList(listOf("a/ro", false));
  s.backend_->putItem("a/ro", "r", kPlain);
  for (bool remove : {false, true}) {
    auto reminder = s.store_->lookUpReminder("a/ro/r");
    ASSERT_TRUE(reminder);
    Outcome outcome = remove ? s.store_->removeReminder(*reminder.value())
                             : s.store_->setCompleted(*reminder.value(), true);
    EXPECT_EQ(outcome.kind(), FailureKind::kReadOnly);
    EXPECT_EQ(outcome.reason(), "The list is read-only; nothing was written.");
  }
  EXPECT_EQ(s.backend_->items("a/ro").front().second, kPlain);

  auto reminder = s.store_->lookUpReminder("a/l/p");
  ASSERT_TRUE(reminder);
  s.backend_->putItem("a/l", "p", todoText("p", "Edited elsewhere"));
  Outcome changed = s.store_->setCompleted(*reminder.value(), true);
  EXPECT_EQ(changed.kind(), FailureKind::kChanged);
  EXPECT_EQ(changed.reason(),
            "The reminder was changed by another program after corvane read "
            "it; nothing was written.");
  EXPECT_EQ(s.itemsOf("a/l").front().second, false);
}

}  // namespace
}  // namespace corvane
