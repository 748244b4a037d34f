#include "store/joined/joined_store.h"

#include <gtest/gtest.h>

#include <future>

#include "tests/builders.h"
#include "tests/memory_store.h"

namespace corvane {
namespace {

bool ownedBySecond(std::string_view identifier) {
  return identifier.starts_with("2nd/");
}

Reminder reminderIn(const std::string& list, const std::string& name) {
  Reminder reminder;
  reminder.identifier = list + "/" + name;
  reminder.calendarIdentifier = list;
  reminder.title = name;
  return reminder;
}

// A memory store with one list of one reminder.
std::unique_ptr<MemoryStore> storeOf(const std::string& list,
                                     const std::string& name) {
  auto store = std::make_unique<MemoryStore>();
  store->addList(listNamed(list, list));
  store->addReminder(reminderIn(list, name));
  return store;
}

std::optional<std::vector<std::string>> titlesFetched(
    ReminderStore& store, const ReminderQuery& query) {
  std::promise<std::optional<std::vector<ReminderPtr>>> answer;
  store.fetchReminders(query,
                       [&](auto reminders) { answer.set_value(reminders); });
  auto reminders = answer.get_future().get();
  if (!reminders) return std::nullopt;
  std::vector<std::string> titles;
  for (const auto& reminder : *reminders) titles.push_back(*reminder->title);
  return titles;
}

// What a fetch answers with a second store that is there, failing, or not
// there at all, for all lists and for lists asked for by identifier.
TEST(JoinedStoreTest, AFetchIsWholeOrFails) {
  using Titles = std::optional<std::vector<std::string>>;
  enum class Second { kThere, kFailing, kAbsent };
  const std::vector<std::string> both = {"1st/l", "2nd/l"};
  const struct {
    const char* name;
    Second second;
    bool firstFails;
    std::optional<std::vector<std::string>> lists;
    Titles titles;
  } cases[] = {
      {"both stores, all lists", Second::kThere, false, {}, {{"one", "two"}}},
      {"both stores, both lists named",
       Second::kThere,
       false,
       both,
       {{"one", "two"}}},
      {"a list of the second store alone",
       Second::kThere,
       false,
       std::vector<std::string>{"2nd/l"},
       {{"two"}}},
      {"the second store fails", Second::kFailing, false, {}, std::nullopt},
      {"the first store fails", Second::kThere, true, {}, std::nullopt},
      {"no second store: the first alone",
       Second::kAbsent,
       false,
       {},
       {{"one"}}},
      {"no second store, its list named", Second::kAbsent, false, both,
       std::nullopt},
  };
  for (const auto& c : cases) {
    auto first = storeOf("1st/l", "one");
    if (c.firstFails) first->failFetches();
    JoinedStore joined(
        std::move(first),
        [second = c.second]() -> std::unique_ptr<ReminderStore> {
          if (second == Second::kAbsent) return nullptr;
          auto store = storeOf("2nd/l", "two");
          if (second == Second::kFailing) store->failFetches();
          return store;
        },
        JoinedStore::Route{ownedBySecond, ownedBySecond});
    ReminderQuery query;
    query.listIdentifiers = c.lists;
    EXPECT_EQ(titlesFetched(joined, query), c.titles) << c.name;
  }
}

// Every identifier goes to the store whose form it has.
TEST(JoinedStoreTest, IdentifiersGoToTheirStore) {
  JoinedStore joined(
      storeOf("1st/l", "one"), [] { return storeOf("2nd/l", "two"); },
      JoinedStore::Route{ownedBySecond, ownedBySecond});
  EXPECT_EQ(joined.reminderLists().size(), 2u);
  EXPECT_TRUE(joined.listWithIdentifier("2nd/l"));
  EXPECT_FALSE(joined.listWithIdentifier("1st/2nd/l"));
  auto two = joined.lookUpReminder("2nd/l/two");
  ASSERT_TRUE(two);
  EXPECT_EQ(two.value()->title, "two");
  EXPECT_EQ(joined.lookUpReminder("1st/l/two").kind(), FailureKind::kNotFound);
  EXPECT_TRUE(joined.setCompleted(*two.value(), true));
  EXPECT_TRUE(joined.lookUpReminder("2nd/l/two").value()->isCompleted);
  EXPECT_TRUE(joined.removeReminder(*two.value()));
  EXPECT_FALSE(joined.lookUpReminder("2nd/l/two"));
}

}  // namespace
}  // namespace corvane
