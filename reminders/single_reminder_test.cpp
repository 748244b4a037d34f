#include "reminders/single_reminder.h"

#include <gtest/gtest.h>

#include "tests/builders.h"
#include "tests/memory_store.h"

namespace corvane {
namespace {

class SingleReminderTest : public ::testing::Test {
 protected:
  SingleReminderTest() {
    store_.addList(listNamed("home/tasks", "Tasks"));
    Reminder open;
    open.identifier = "home/tasks/open";
    open.calendarIdentifier = "home/tasks";
    open.title = "Open one";
    open.recurrenceRules.push_back(RecurrenceRule{});
    store_.addReminder(open);
    Reminder done = open;
    done.identifier = "home/tasks/done";
    done.title = "Done one";
    done.isCompleted = true;
    done.recurrenceRules.clear();
    store_.addReminder(done);
  }

  RecurrenceDescriber describer() {
    return
        [this](const std::string& id) -> std::optional<RecurrenceDescription> {
          described_.push_back(id);
          return RecurrenceDescription{"Every day", std::nullopt};
        };
  }

  bool isCompleted(const std::string& id) {
    ReminderPtr reminder = store_.reminderWithIdentifier(id);
    EXPECT_TRUE(reminder) << id;
    return reminder && reminder->isCompleted;
  }

  MemoryStore store_;
  std::vector<std::string> described_;
};

TEST_F(SingleReminderTest, GetFindsTheRecordOfOneReminder) {
  auto found = getReminder(store_, "home/tasks/open", describer(), Instant{});
  ASSERT_TRUE(found.ok()) << found.reason();
  const auto& record = found.value();
  ASSERT_TRUE(record.is_object());
  EXPECT_EQ(record["id"], "home/tasks/open");
  EXPECT_EQ(record["title"], "Open one");
  EXPECT_EQ(record["recurrenceDescription"], "Every day");
  EXPECT_FALSE(record.contains("recurrenceEndDetails"));
  EXPECT_EQ(described_, std::vector<std::string>{"home/tasks/open"});

  // A completed reminder is shown like any other.
  auto done = getReminder(store_, "home/tasks/done", describer(), Instant{});
  ASSERT_TRUE(done.ok());
  EXPECT_EQ(done.value()["isCompleted"], true);
  EXPECT_FALSE(done.value().contains("recurrenceDescription"));
  EXPECT_EQ(described_.size(), 1u);
}

TEST_F(SingleReminderTest, GetOfAnUnknownIdentifier) {
  for (const char* id : {"home/tasks/missing", "", "HOME/TASKS/OPEN",
                         "home/tasks/open ", "home/tasks"}) {
    auto found = getReminder(store_, id, describer(), Instant{});
    ASSERT_FALSE(found.ok()) << id;
    EXPECT_EQ(found.reason(), "Reminder not found") << id;
  }
  EXPECT_TRUE(described_.empty());
}

TEST_F(SingleReminderTest, ToggleSetsTheGivenState) {
  // Setting the state it already has succeeds too.
  for (bool completed : {true, true, false, false, true}) {
    Outcome outcome = toggleReminder(store_, "home/tasks/open", completed);
    ASSERT_TRUE(outcome.ok()) << completed << " " << outcome.reason();
    EXPECT_EQ(isCompleted("home/tasks/open"), completed);
  }
  EXPECT_TRUE(isCompleted("home/tasks/done"));
}

TEST_F(SingleReminderTest, ToggleOfAnUnknownIdentifier) {
  Outcome outcome = toggleReminder(store_, "home/tasks/missing", true);
  ASSERT_FALSE(outcome.ok());
  EXPECT_EQ(outcome.reason(), "Reminder not found");
}

TEST_F(SingleReminderTest, ChangesTheStoreRefusesAreReported) {
  store_.failChanges("The list is read-only.");
  Outcome toggled = toggleReminder(store_, "home/tasks/open", true);
  ASSERT_FALSE(toggled.ok());
  EXPECT_EQ(toggled.reason(),
            "Error updating reminder: The list is read-only.");
  EXPECT_FALSE(isCompleted("home/tasks/open"));

  Outcome deleted = deleteReminder(store_, "home/tasks/open");
  ASSERT_FALSE(deleted.ok());
  EXPECT_EQ(deleted.reason(),
            "Error deleting reminder: The list is read-only.");
  EXPECT_TRUE(store_.reminderWithIdentifier("home/tasks/open"));

  // An unknown identifier is not found before the store could refuse.
  Outcome missing = toggleReminder(store_, "home/tasks/missing", true);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.reason(), "Reminder not found");

  // A reminder that is there but could not be read is no "not found" to a
  // change, which tells why; to get it is one not found.
  store_.failLookups(Failure{"Input/output error.", FailureKind::kUnavailable});
  EXPECT_EQ(toggleReminder(store_, "home/tasks/open", true).reason(),
            "Error updating reminder: Input/output error.");
  EXPECT_EQ(deleteReminder(store_, "home/tasks/open").reason(),
            "Error deleting reminder: Input/output error.");
  EXPECT_EQ(
      getReminder(store_, "home/tasks/open", describer(), Instant{}).reason(),
      "Reminder not found");
}

TEST_F(SingleReminderTest, DeleteTwice) {
  Outcome first = deleteReminder(store_, "home/tasks/open");
  ASSERT_TRUE(first.ok()) << first.reason();
  EXPECT_FALSE(store_.reminderWithIdentifier("home/tasks/open"));
  EXPECT_TRUE(store_.reminderWithIdentifier("home/tasks/done"));
  Outcome second = deleteReminder(store_, "home/tasks/open");
  ASSERT_FALSE(second.ok());
  EXPECT_EQ(second.reason(), "Reminder not found");
  auto gone = getReminder(store_, "home/tasks/open", describer(), Instant{});
  ASSERT_FALSE(gone.ok());
  EXPECT_EQ(gone.reason(), "Reminder not found");
}

}  // namespace
}  // namespace corvane
