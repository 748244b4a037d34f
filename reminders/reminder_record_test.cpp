#include "reminders/reminder_record.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/builders.h"
#include "tests/scoped_environment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using std::chrono::sys_days;

Instant at(std::chrono::year_month_day day, std::chrono::seconds time = 0s) {
  return Instant{sys_days{day}.time_since_epoch()} + time;
}

// Clocks two hours east of UTC all year round.
class TwoHoursEast final : public TimeZone {
 public:
  std::optional<std::chrono::seconds> offsetAt(Instant) const override {
    return 2h;
  }
};

// A describer that remembers how it was called and answers as told.
struct FakeDescriber {
  std::optional<RecurrenceDescription> answer;
  std::vector<std::string> calls;

  RecurrenceDescriber function() {
    return [this](const std::string& id) {
      calls.push_back(id);
      return answer;
    };
  }
};

Reminder plainReminder() {
  Reminder reminder;
  reminder.identifier = "home/tasks/a1";
  reminder.calendarIdentifier = "home/tasks";
  reminder.title = "Buy milk";
  reminder.notes = "two litres";
  reminder.priority = 5;
  reminder.hasAlarms = true;
  reminder.creationDate = at(2024y / 1 / 2, 3h + 4min + 5s);
  reminder.lastModifiedDate = at(2024y / 2 / 3, 4h + 5min + 6s);
  return reminder;
}

Reminder repeating() {
  Reminder reminder = plainReminder();
  reminder.recurrenceRules.push_back(RecurrenceRule{});
  return reminder;
}

// The current time of every record here.
const Instant kNow = at(2024y / 3 / 5, 14h + 7min + 9s);

nlohmann::ordered_json recordOf(const Reminder& reminder) {
  FakeDescriber describer;
  return makeReminderRecord(reminder, describer.function(), kNow);
}

TEST(ReminderRecordTest, PlainReminderHasExactlyTheElevenKeys) {
  auto record = recordOf(plainReminder());
  std::set<std::string> keys;
  for (const auto& [key, value] : record.items()) keys.insert(key);
  EXPECT_EQ(keys, (std::set<std::string>{
                      "id", "title", "isCompleted", "notes", "priority",
                      "hasAlarms", "hasRecurrenceRules", "creationDate",
                      "dueDate", "lastModifiedDate", "calendar"}));
  EXPECT_EQ(record["id"], "home/tasks/a1");
  EXPECT_EQ(record["title"], "Buy milk");
  EXPECT_EQ(record["isCompleted"], false);
  EXPECT_EQ(record["notes"], "two litres");
  EXPECT_EQ(record["priority"], 5);
  EXPECT_EQ(record["hasAlarms"], true);
  EXPECT_EQ(record["hasRecurrenceRules"], false);
  EXPECT_EQ(record["creationDate"], "2024-01-02T03:04:05Z");
  EXPECT_EQ(record["lastModifiedDate"], "2024-02-03T04:05:06Z");
  EXPECT_EQ(record["calendar"], "home/tasks");
}

TEST(ReminderRecordTest, CompletedAndWithoutAlarms) {
  Reminder reminder = plainReminder();
  reminder.isCompleted = true;
  reminder.hasAlarms = false;
  auto record = recordOf(reminder);
  EXPECT_EQ(record["isCompleted"], true);
  EXPECT_EQ(record["hasAlarms"], false);
}

TEST(ReminderRecordTest, MissingTextsAreEmptyStringsNeverNull) {
  Reminder reminder = plainReminder();
  reminder.title.reset();
  reminder.notes.reset();
  reminder.calendarIdentifier.clear();
  auto record = recordOf(reminder);
  ASSERT_TRUE(record["title"].is_string());
  ASSERT_TRUE(record["notes"].is_string());
  ASSERT_TRUE(record["calendar"].is_string());
  EXPECT_EQ(record["title"], "");
  EXPECT_EQ(record["notes"], "");
  EXPECT_EQ(record["calendar"], "");
  EXPECT_EQ(record.size(), 11u);
}

TEST(ReminderRecordTest, DueDateIsNullButPresentWhenItCannotBeShown) {
  DueDateComponents withoutCalendar = onDay(2024, 3, 5);
  withoutCalendar.hasCalendar = false;
  DueDateComponents impossible = onDay(2024, 2, 31);
  impossible.timeZone = utcTimeZone();
  const struct {
    const char* name;
    std::optional<DueDateComponents> components;
  } cases[] = {
      {"no components", std::nullopt},
      {"no calendar", withoutCalendar},
      {"31 February", impossible},
  };
  for (const auto& c : cases) {
    Reminder reminder = plainReminder();
    reminder.dueDateComponents = c.components;
    auto record = recordOf(reminder);
    ASSERT_TRUE(record.contains("dueDate")) << c.name;
    EXPECT_TRUE(record["dueDate"].is_null()) << c.name;
    EXPECT_EQ(record.size(), 11u) << c.name;
  }
}

TEST(ReminderRecordTest, DueDateIsShownInUtc) {
  DueDateComponents dateOnlyEast = onDay(2024, 3, 5);
  dateOnlyEast.timeZone = std::make_shared<TwoHoursEast>();
  DueDateComponents utcNoSeconds = onDay(2024, 3, 5, 9, 30);
  utcNoSeconds.timeZone = utcTimeZone();
  DueDateComponents withSeconds = onDay(2024, 12, 31, 23, 59, 59);
  withSeconds.timeZone = utcTimeZone();
  const struct {
    const char* name;
    DueDateComponents components;
    const char* expected;
  } cases[] = {
      // The day shown differs from the day the reminder is due.
      {"date alone, two hours east", dateOnlyEast, "2024-03-04T22:00:00Z"},
      {"09:30 UTC without seconds", utcNoSeconds, "2024-03-05T09:30:00Z"},
      {"last second of a year", withSeconds, "2024-12-31T23:59:59Z"},
  };
  for (const auto& c : cases) {
    Reminder reminder = plainReminder();
    reminder.dueDateComponents = c.components;
    EXPECT_EQ(recordOf(reminder)["dueDate"], c.expected) << c.name;
  }
}

TEST(ReminderRecordTest, DueDateWithoutZoneIsReadInTheSystemZone) {
  ScopedEnvironment environment;
  environment.set("TZ", "EET-2");
  Reminder reminder = plainReminder();
  reminder.dueDateComponents = onDay(2024, 3, 5);
  EXPECT_EQ(recordOf(reminder)["dueDate"], "2024-03-04T22:00:00Z");
  reminder.dueDateComponents = onDay(2024, 3, 5, 9, 30);
  EXPECT_EQ(recordOf(reminder)["dueDate"], "2024-03-05T07:30:00Z");
}

TEST(ReminderRecordTest, MissingDatesShowTheCurrentTime) {
  Reminder reminder = plainReminder();
  reminder.creationDate.reset();
  reminder.lastModifiedDate.reset();
  auto record = recordOf(reminder);
  for (const char* key : {"creationDate", "lastModifiedDate"})
    EXPECT_EQ(record[key], "2024-03-05T14:07:09Z") << key;
}

TEST(ReminderRecordTest, PriorityIsUnchanged) {
  for (int priority : {0, 1, 9, 42, -3}) {
    Reminder reminder = plainReminder();
    reminder.priority = priority;
    auto record = recordOf(reminder);
    ASSERT_TRUE(record["priority"].is_number_integer()) << priority;
    EXPECT_EQ(record["priority"], priority);
  }
}

TEST(ReminderRecordTest, NoRulesMeansNoRecurrenceKeysAndNoDescriberCall) {
  FakeDescriber describer;
  describer.answer = RecurrenceDescription{"Every day", "until Jan 5, 2026"};
  auto record = makeReminderRecord(plainReminder(), describer.function(), kNow);
  EXPECT_TRUE(describer.calls.empty());
  EXPECT_FALSE(record.contains("recurrenceDescription"));
  EXPECT_FALSE(record.contains("recurrenceEndDetails"));
  EXPECT_EQ(record["hasRecurrenceRules"], false);
}

TEST(ReminderRecordTest, RecurrenceKeysAreWhatTheDescriberGives) {
  const struct {
    const char* name;
    std::optional<RecurrenceDescription> answer;
    const char* description;  // null: key absent
    const char* endDetails;   // null: key absent
  } cases[] = {
      {"not described", std::nullopt, nullptr, nullptr},
      {"no end", RecurrenceDescription{"Every 2 weeks", std::nullopt},
       "Every 2 weeks", nullptr},
      {"with end", RecurrenceDescription{"Every day", "for 5 occurrences"},
       "Every day", "for 5 occurrences"},
      {"empty rule list", RecurrenceDescription{"No recurrence", std::nullopt},
       "No recurrence", nullptr},
  };
  for (const auto& c : cases) {
    FakeDescriber describer;
    describer.answer = c.answer;
    auto record = makeReminderRecord(repeating(), describer.function(), kNow);
    EXPECT_EQ(describer.calls, std::vector<std::string>{"home/tasks/a1"})
        << c.name;
    EXPECT_EQ(record["hasRecurrenceRules"], true) << c.name;
    if (c.description)
      EXPECT_EQ(record.value("recurrenceDescription", ""), c.description)
          << c.name;
    else
      EXPECT_FALSE(record.contains("recurrenceDescription")) << c.name;
    if (c.endDetails)
      EXPECT_EQ(record.value("recurrenceEndDetails", ""), c.endDetails)
          << c.name;
    else
      EXPECT_FALSE(record.contains("recurrenceEndDetails")) << c.name;
    EXPECT_EQ(record.size(),
              11u + (c.description ? 1 : 0) + (c.endDetails ? 1 : 0))
        << c.name;
  }
}

TEST(FormatISODateTest, UtcWithoutFraction) {
  const struct {
    Instant instant;
    const char* expected;
  } cases[] = {
      {Instant{}, "1970-01-01T00:00:00Z"},
      {Instant{} - 1s, "1969-12-31T23:59:59Z"},
      {at(2024y / 2 / 29, 12h + 34min + 56s), "2024-02-29T12:34:56Z"},
      {at(2023y / 12 / 31, 23h + 59min + 59s), "2023-12-31T23:59:59Z"},
      {at(2024y / 3 / 5, 14h + 7min + 9s), "2024-03-05T14:07:09Z"},
      {at(9999y / 12 / 31, 23h + 59min + 59s), "9999-12-31T23:59:59Z"},
      {at(1y / 1 / 1), "0001-01-01T00:00:00Z"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(formatISODate(c.instant), c.expected)
        << c.instant.time_since_epoch().count();
}

TEST(FormatISODateTest, IgnoresTheSystemZone) {
  ScopedEnvironment environment;
  environment.set("TZ", "Pacific/Kiritimati");
  EXPECT_EQ(formatISODate(at(2024y / 3 / 5, 23h)), "2024-03-05T23:00:00Z");
}

}  // namespace
}  // namespace corvane
