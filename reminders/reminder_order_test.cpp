#include "reminders/reminder_order.h"

#include <gtest/gtest.h>

#include "tests/builders.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

const Instant kBase = Instant{} + 1'700'000'000s;

Reminder named(std::string id) {
  Reminder reminder;
  reminder.identifier = std::move(id);
  return reminder;
}

std::vector<std::string> idsOf(const std::vector<ReminderPtr>& reminders) {
  std::vector<std::string> ids;
  for (const auto& reminder : reminders) ids.push_back(reminder->identifier);
  return ids;
}

std::vector<ReminderPtr> shared(std::vector<Reminder> reminders) {
  std::vector<ReminderPtr> result;
  for (auto& reminder : reminders)
    result.push_back(std::make_shared<const Reminder>(std::move(reminder)));
  return result;
}

TEST(MatchesCompletionStatusTest, LowerCasedWordsChoose) {
  const struct {
    const char* status;
    bool keepsCompleted;
    bool keepsOpen;
  } cases[] = {
      {"completed", true, false},
      {"COMPLETED", true, false},
      {"Completed", true, false},
      {"cOmPlEtEd", true, false},
      {"incomplete", false, true},
      {"INCOMPLETE", false, true},
      {"Incomplete", false, true},
      {"all", true, true},
      {"", true, true},
      {"none", true, true},
      {" completed", true, true},
      {"completed ", true, true},
      {"complete", true, true},
      {"open", true, true},
  };
  Reminder done = named("done");
  done.isCompleted = true;
  Reminder open = named("open");
  for (const auto& c : cases) {
    EXPECT_EQ(matchesCompletionStatus(done, c.status), c.keepsCompleted)
        << '"' << c.status << '"';
    EXPECT_EQ(matchesCompletionStatus(open, c.status), c.keepsOpen)
        << '"' << c.status << '"';
  }
}

// The two "later" orders read different fields but follow one rule.
struct DateOrder {
  const char* name;
  bool (*before)(const Reminder&, const Reminder&);
  std::optional<Instant> Reminder::*field;
};

const DateOrder kLaterOrders[] = {
    {"modified", isModifiedLater, &Reminder::lastModifiedDate},
    {"created", isCreatedLater, &Reminder::creationDate},
};

TEST(ReminderOrderTest, LaterFirstAndMissingDatesLast) {
  for (const auto& order : kLaterOrders) {
    Reminder early = named("early"), late = named("late"), none = named("none");
    Reminder sameAsEarly = named("same");
    early.*order.field = kBase;
    late.*order.field = kBase + 1s;
    sameAsEarly.*order.field = kBase;
    Reminder alsoNone = named("also none");
    // The other field must not decide anything.
    none.lastModifiedDate.reset();
    none.creationDate.reset();
    if (order.field == &Reminder::lastModifiedDate)
      none.creationDate = kBase + 100s;
    else
      none.lastModifiedDate = kBase + 100s;

    EXPECT_TRUE(order.before(late, early)) << order.name;
    EXPECT_FALSE(order.before(early, late)) << order.name;
    EXPECT_TRUE(order.before(early, none)) << order.name;
    EXPECT_FALSE(order.before(none, early)) << order.name;
    EXPECT_FALSE(order.before(none, alsoNone)) << order.name;
    EXPECT_FALSE(order.before(alsoNone, none)) << order.name;
    EXPECT_FALSE(order.before(early, sameAsEarly)) << order.name;
    EXPECT_FALSE(order.before(sameAsEarly, early)) << order.name;
    for (const Reminder* r : {&early, &late, &none})
      EXPECT_FALSE(order.before(*r, *r)) << order.name << " " << r->identifier;
  }
}

TEST(ReminderOrderTest, DueEarlierFirstAndUndatedLast) {
  Reminder early = named("early"), late = named("late");
  early.dueDateComponents = dueAt(kBase);
  late.dueDateComponents = dueAt(kBase + 1s);
  Reminder same = named("same");
  same.dueDateComponents = dueAt(kBase);
  Reminder undated = named("undated");
  Reminder noCalendar = named("no calendar");
  noCalendar.dueDateComponents = dueAt(kBase - 1000s);
  noCalendar.dueDateComponents->hasCalendar = false;
  Reminder impossible = named("31 February");
  impossible.dueDateComponents = onDay(2023, 2, 31);

  EXPECT_TRUE(isDueEarlier(early, late));
  EXPECT_FALSE(isDueEarlier(late, early));
  EXPECT_FALSE(isDueEarlier(early, same));
  EXPECT_FALSE(isDueEarlier(same, early));
  for (const Reminder* missing : {&undated, &noCalendar, &impossible}) {
    EXPECT_TRUE(isDueEarlier(late, *missing)) << missing->identifier;
    EXPECT_FALSE(isDueEarlier(*missing, late)) << missing->identifier;
    EXPECT_FALSE(isDueEarlier(*missing, *missing)) << missing->identifier;
    EXPECT_FALSE(isDueEarlier(*missing, undated)) << missing->identifier;
    EXPECT_FALSE(isDueEarlier(undated, *missing)) << missing->identifier;
  }
  EXPECT_FALSE(isDueEarlier(early, early));
}

TEST(FilterAndSortTest, FiltersThenSorts) {
  Reminder a = named("a"), b = named("b"), c = named("c"), d = named("d");
  a.dueDateComponents = dueAt(kBase + 30s);
  b.dueDateComponents = dueAt(kBase);  // earliest, but completed
  b.isCompleted = true;
  c.dueDateComponents = dueAt(kBase + 10s);
  d.dueDateComponents = dueAt(kBase + 20s);
  d.isCompleted = true;
  auto store = shared({a, b, c, d});
  EXPECT_EQ(idsOf(filterAndSort(store, "incomplete", "deadline")),
            (std::vector<std::string>{"c", "a"}));
  EXPECT_EQ(idsOf(filterAndSort(store, "Completed", "deadline")),
            (std::vector<std::string>{"b", "d"}));
  EXPECT_EQ(idsOf(filterAndSort(store, "all", "deadline")),
            (std::vector<std::string>{"b", "c", "d", "a"}));
  EXPECT_EQ(idsOf(filterAndSort(store, "COMPLETED", "none")),
            (std::vector<std::string>{"b", "d"}));
  EXPECT_TRUE(filterAndSort({}, "all", "deadline").empty());
  EXPECT_TRUE(filterAndSort(shared({a, c}), "completed", "modified").empty());
}

TEST(FilterAndSortTest, EachSortWord) {
  Reminder a = named("a"), b = named("b"), c = named("c"), d = named("d");
  a.lastModifiedDate = kBase + 1s;
  a.creationDate = kBase + 3s;
  a.dueDateComponents = dueAt(kBase + 2s);
  b.lastModifiedDate = kBase + 3s;
  b.dueDateComponents = dueAt(kBase + 1s);
  c.creationDate = kBase + 1s;
  c.dueDateComponents = dueAt(kBase + 3s);
  d.lastModifiedDate = kBase + 2s;
  d.creationDate = kBase + 2s;
  auto store = shared({a, b, c, d});
  const struct {
    const char* sortBy;
    std::vector<std::string> expected;
  } cases[] = {
      {"modified", {"b", "d", "a", "c"}},
      {"created", {"a", "d", "c", "b"}},
      {"deadline", {"b", "a", "c", "d"}},
      // Exact words only: lowering the case is the command line's business.
      {"Modified", {"a", "b", "c", "d"}},
      {"DEADLINE", {"a", "b", "c", "d"}},
      {"none", {"a", "b", "c", "d"}},
      {"", {"a", "b", "c", "d"}},
      {"priority", {"a", "b", "c", "d"}},
      {"modified ", {"a", "b", "c", "d"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(idsOf(filterAndSort(store, "all", c.sortBy)), c.expected)
        << '"' << c.sortBy << '"';
}

TEST(FilterAndSortTest, EqualKeysKeepTheStoreOrder) {
  // Two dates, interleaved, and enough reminders that an unstable sort
  // would be likely to show.
  std::vector<Reminder> reminders;
  std::vector<std::string> earlier, later;
  for (int i = 0; i < 60; ++i) {
    Reminder reminder = named("r" + std::to_string(i));
    Instant date = kBase + std::chrono::seconds{i % 2};
    reminder.dueDateComponents = dueAt(date);
    reminder.lastModifiedDate = date;
    reminder.creationDate = date;
    reminders.push_back(reminder);
    (i % 2 ? later : earlier).push_back(reminder.identifier);
  }
  auto latestFirst = later, earliestFirst = earlier;
  latestFirst.insert(latestFirst.end(), earlier.begin(), earlier.end());
  earliestFirst.insert(earliestFirst.end(), later.begin(), later.end());
  auto store = shared(reminders);
  EXPECT_EQ(idsOf(filterAndSort(store, "all", "modified")), latestFirst);
  EXPECT_EQ(idsOf(filterAndSort(store, "all", "created")), latestFirst);
  EXPECT_EQ(idsOf(filterAndSort(store, "all", "deadline")), earliestFirst);

  // Reminders without the date are equal among themselves too.
  std::vector<Reminder> mixed;
  std::vector<std::string> dated, undated;
  for (int i = 0; i < 60; ++i) {
    Reminder reminder = named("m" + std::to_string(i));
    if (i % 3 == 0) {
      reminder.dueDateComponents = dueAt(kBase);
      reminder.lastModifiedDate = kBase;
      reminder.creationDate = kBase;
      dated.push_back(reminder.identifier);
    } else {
      undated.push_back(reminder.identifier);
    }
    mixed.push_back(reminder);
  }
  dated.insert(dated.end(), undated.begin(), undated.end());
  for (const char* sortBy : {"modified", "created", "deadline"})
    EXPECT_EQ(idsOf(filterAndSort(shared(mixed), "all", sortBy)), dated)
        << sortBy;
}

TEST(FilterAndSortTest, DeadlinePutsWhatHasNoDueInstantLast) {
  Reminder undated = named("undated");
  Reminder noCalendar = named("no calendar");
  noCalendar.dueDateComponents = dueAt(kBase - 1000s);
  noCalendar.dueDateComponents->hasCalendar = false;
  Reminder late = named("late"), early = named("early");
  late.dueDateComponents = dueAt(kBase + 60s);
  early.dueDateComponents = dueAt(kBase - 60s);
  auto sorted = filterAndSort(shared({undated, noCalendar, late, early}), "all",
                              "deadline");
  EXPECT_EQ(idsOf(sorted), (std::vector<std::string>{"early", "late", "undated",
                                                     "no calendar"}));
}

}  // namespace
}  // namespace corvane
