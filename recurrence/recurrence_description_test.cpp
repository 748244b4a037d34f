#include "recurrence/recurrence_description.h"

#include <gtest/gtest.h>

#include "tests/memory_store.h"
#include "tests/scoped_environment.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

constexpr int kSunday = 1, kMonday = 2, kTuesday = 3, kWednesday = 4,
              kThursday = 5, kFriday = 6, kSaturday = 7;

RecurrenceRule rule(int frequency, int interval) {
  RecurrenceRule r;
  r.frequency = frequency;
  r.interval = interval;
  return r;
}

RecurrenceRule weekly(int interval, std::vector<int> days) {
  RecurrenceRule r = rule(1, interval);
  r.daysOfTheWeek.emplace();
  for (int day : days) r.daysOfTheWeek->push_back({day, 0});
  return r;
}

RecurrenceRule monthly(std::int64_t interval, std::vector<std::int64_t> days) {
  RecurrenceRule r = rule(2, interval);
  r.daysOfTheMonth = std::move(days);
  return r;
}

RecurrenceRule yearly(std::int64_t interval, std::vector<std::int64_t> months) {
  RecurrenceRule r = rule(3, interval);
  r.monthsOfTheYear = std::move(months);
  return r;
}

RecurrenceRule endingAfter(RecurrenceRule r, int count) {
  r.recurrenceEnd = RecurrenceEnd{std::nullopt, count};
  return r;
}

RecurrenceRule endingOn(RecurrenceRule r, std::chrono::year_month_day day) {
  r.recurrenceEnd =
      RecurrenceEnd{std::chrono::time_point_cast<std::chrono::seconds>(
                        std::chrono::sys_days{day} + 12h),
                    0};
  return r;
}

struct Case {
  const char* name;
  std::vector<RecurrenceRule> rules;
  const char* description;
  std::optional<std::string> endDetails;
};

class RecurrenceDescriptionTest : public ::testing::Test {
 protected:
  void SetUp() override { environment_.useLocaleAndZone("en_US.UTF-8", "UTC"); }

  void check(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
      RecurrenceDescription got = describeRecurrenceRules(c.rules, order_);
      EXPECT_EQ(got.description, c.description) << c.name;
      EXPECT_EQ(got.endDetails, c.endDetails) << c.name;
    }
  }

  ScopedEnvironment environment_;
  WeekdayOrder order_ = makeWeekdayOrder();
};

TEST_F(RecurrenceDescriptionTest, WorkedExamples) {
  check({
      {"daily", {rule(0, 1)}, "Daily", std::nullopt},
      {"every 3 days",
       {endingAfter(rule(0, 3), 10)},
       "Every 3 days",
       "for 10 occurrences"},
      {"every 2 weeks",
       {endingAfter(weekly(2, {kMonday, kWednesday}), 5)},
       "Every 2 weeks on Monday, Wednesday",
       "for 5 occurrences"},
      {"Friday Sunday Tuesday",
       {weekly(1, {kFriday, kSunday, kTuesday})},
       "Weekly on Sunday, Tuesday, Friday",
       std::nullopt},
      {"Saturday Monday",
       {weekly(1, {kSaturday, kMonday})},
       "Weekly on Monday, Saturday",
       std::nullopt},
      {"weekdays",
       {weekly(3, {kMonday, kTuesday, kWednesday, kThursday, kFriday})},
       "Weekdays",
       std::nullopt},
      {"weekends",
       {endingOn(weekly(1, {kSunday, kSaturday}), 2026y / 1 / 5)},
       "Weekends",
       "until Jan 5, 2026"},
      {"weekly no days", {rule(1, 1)}, "Weekly", std::nullopt},
      {"monthly days",
       {monthly(1, {15, 1, -1})},
       "Monthly on day(s) 15, 1, -1",
       std::nullopt},
      {"every 6 months", {rule(2, 6)}, "Every 6 months", std::nullopt},
      {"yearly months",
       {yearly(1, {12, 6})},
       "Yearly in December, June",
       std::nullopt},
      {"every 2 years",
       {endingAfter(yearly(2, {3}), 1)},
       "Every 2 years in March",
       "for 1 occurrences"},
      {"frequency 4", {rule(4, 1)}, "Repeats", std::nullopt},
      {"no rules", {}, "No recurrence", std::nullopt},
  });
}

TEST_F(RecurrenceDescriptionTest, WeeklyDaySets) {
  RecurrenceRule numbered = weekly(1, {});
  for (int day : {kMonday, kTuesday, kWednesday, kThursday, kFriday})
    numbered.daysOfTheWeek->push_back({day, 2});
  RecurrenceRule emptyDays = weekly(4, {});
  check({
      {"duplicated Monday",
       {weekly(1,
               {kMonday, kTuesday, kMonday, kWednesday, kThursday, kFriday})},
       "Weekdays",
       std::nullopt},
      {"week numbers", {numbered}, "Weekdays", std::nullopt},
      {"weekdays with an end",
       {endingAfter(
           weekly(1, {kMonday, kTuesday, kWednesday, kThursday, kFriday}), 3)},
       "Weekdays",
       "for 3 occurrences"},
      {"four weekdays",
       {weekly(1, {kMonday, kTuesday, kWednesday, kThursday})},
       "Weekly on Monday, Tuesday, Wednesday, Thursday",
       std::nullopt},
      {"Monday to Saturday",
       {weekly(1,
               {kMonday, kTuesday, kWednesday, kThursday, kFriday, kSaturday})},
       "Weekly on Monday, Tuesday, Wednesday, Thursday, Friday, Saturday",
       std::nullopt},
      {"all seven",
       {weekly(1, {kSaturday, kFriday, kThursday, kWednesday, kTuesday, kMonday,
                   kSunday})},
       "Weekly on Sunday, Monday, Tuesday, Wednesday, Thursday, Friday, "
       "Saturday",
       std::nullopt},
      {"Monday Monday",
       {weekly(1, {kMonday, kMonday})},
       "Weekly on Monday, Monday",
       std::nullopt},
      {"Saturday Saturday Sunday",
       {weekly(2, {kSaturday, kSunday, kSaturday})},
       "Weekends",
       std::nullopt},
      {"Sunday alone",
       {weekly(1, {kSunday})},
       "Weekly on Sunday",
       std::nullopt},
      {"empty day list", {emptyDays}, "Every 4 weeks", std::nullopt},
      {"absent day list", {rule(1, 4)}, "Every 4 weeks", std::nullopt},
  });
}

TEST_F(RecurrenceDescriptionTest, UnknownWeekdaySortsLastAndDoesNotStop) {
  check({
      {"9 alone", {weekly(1, {9})}, "Weekly on Unknown Day", std::nullopt},
      {"9 among days",
       {weekly(1, {9, kTuesday, 0, kSunday})},
       "Weekly on Sunday, Tuesday, Unknown Day, Unknown Day",
       std::nullopt},
      // Not the Monday to Friday set, so no "Weekdays".
      {"9 with weekdays",
       {weekly(1, {kMonday, kTuesday, kWednesday, kThursday, kFriday, 9})},
       "Weekly on Monday, Tuesday, Wednesday, Thursday, Friday, Unknown Day",
       std::nullopt},
  });
}

TEST_F(RecurrenceDescriptionTest, IntervalsAreShownAsTheyCome) {
  check({
      {"daily 0", {rule(0, 0)}, "Every 0 days", std::nullopt},
      {"daily -2", {rule(0, -2)}, "Every -2 days", std::nullopt},
      {"weekly 0", {rule(1, 0)}, "Every 0 weeks", std::nullopt},
      {"weekly -1 with a day",
       {weekly(-1, {kMonday})},
       "Every -1 weeks on Monday",
       std::nullopt},
      {"monthly 0", {rule(2, 0)}, "Every 0 months", std::nullopt},
      {"yearly -3", {rule(3, -3)}, "Every -3 years", std::nullopt},
      {"large", {rule(0, 1000000)}, "Every 1000000 days", std::nullopt},
      {"negative frequency", {rule(-1, 2)}, "Repeats", std::nullopt},
      {"secondly",
       {endingAfter(rule(kFrequencySecondly, 1), 2)},
       "Repeats",
       "for 2 occurrences"},
  });
}

TEST_F(RecurrenceDescriptionTest, ListsThatOtherFrequenciesIgnore) {
  RecurrenceRule dailyWithDays = weekly(1, {kMonday, kFriday});
  dailyWithDays.frequency = 0;
  RecurrenceRule monthlyByWeekday = weekly(1, {});
  monthlyByWeekday.frequency = 2;
  monthlyByWeekday.daysOfTheWeek->push_back({kTuesday, 2});
  RecurrenceRule weeklyWithMonths = weekly(1, {kMonday});
  weeklyWithMonths.monthsOfTheYear = std::vector<std::int64_t>{3};
  weeklyWithMonths.daysOfTheMonth = std::vector<std::int64_t>{4};
  RecurrenceRule yearlyWithDays = yearly(1, {});
  yearlyWithDays.daysOfTheMonth = std::vector<std::int64_t>{4};
  yearlyWithDays.daysOfTheWeek = std::vector<RecurrenceDayOfWeek>{{kMonday, 1}};
  check({
      {"daily with weekdays", {dailyWithDays}, "Daily", std::nullopt},
      {"monthly by weekday", {monthlyByWeekday}, "Monthly", std::nullopt},
      {"monthly empty days", {monthly(3, {})}, "Every 3 months", std::nullopt},
      {"weekly with months",
       {weeklyWithMonths},
       "Weekly on Monday",
       std::nullopt},
      {"yearly empty months with days",
       {yearlyWithDays},
       "Yearly",
       std::nullopt},
  });
}

TEST_F(RecurrenceDescriptionTest, Ends) {
  RecurrenceRule both = rule(0, 1);
  both.recurrenceEnd =
      RecurrenceEnd{std::chrono::time_point_cast<std::chrono::seconds>(
                        std::chrono::sys_days{2026y / 3 / 14} + 9h),
                    7};
  check({
      {"date and count", {both}, "Daily", "until Mar 14, 2026"},
      {"count 0", {endingAfter(rule(0, 1), 0)}, "Daily", "for 0 occurrences"},
      {"count -1",
       {endingAfter(rule(0, 1), -1)},
       "Daily",
       "for -1 occurrences"},
      {"after Weekends",
       {endingAfter(weekly(1, {kSaturday, kSunday}), 2)},
       "Weekends",
       "for 2 occurrences"},
      {"after Repeats",
       {endingOn(rule(9, 1), 2026y / 12 / 31)},
       "Repeats",
       "until Dec 31, 2026"},
  });
}

TEST_F(RecurrenceDescriptionTest, OnlyTheFirstRuleCounts) {
  check({
      {"two rules",
       {endingAfter(rule(0, 2), 4), endingOn(yearly(1, {5}), 2030y / 1 / 1)},
       "Every 2 days",
       "for 4 occurrences"},
      {"first without end",
       {rule(3, 1), endingAfter(rule(0, 1), 3), rule(1, 1)},
       "Yearly",
       std::nullopt},
  });
}

TEST_F(RecurrenceDescriptionTest, MonthNamesAndEndDateFollowTheLocale) {
  environment_.set("LC_ALL", "de_DE.UTF-8");
  check({
      {"German months",
       {yearly(1, {12, 6})},
       "Yearly in Dezember, Juni",
       std::nullopt},
      {"German date",
       {endingOn(rule(0, 1), 2026y / 1 / 5)},
       "Daily",
       "until 05.01.2026"},
  });
}

TEST_F(RecurrenceDescriptionTest, EndDateInTheSystemZone) {
  environment_.set("TZ", "America/New_York");
  RecurrenceRule r = rule(0, 1);
  r.recurrenceEnd =
      RecurrenceEnd{std::chrono::time_point_cast<std::chrono::seconds>(
                        std::chrono::sys_days{2026y / 1 / 5} + 2h),
                    0};
  check({{"New York", {r}, "Daily", "until Jan 4, 2026"}});
}

TEST_F(RecurrenceDescriptionTest, LooksTheReminderUpByIdentifier) {
  MemoryStore store;
  Reminder repeating;
  repeating.identifier = "acc/list/repeating";
  repeating.recurrenceRules = {endingAfter(weekly(2, {kWednesday, kMonday}), 5),
                               rule(0, 1)};
  store.addReminder(repeating);
  Reminder plain;
  plain.identifier = "acc/list/plain";
  store.addReminder(plain);

  EXPECT_EQ(humanReadableRecurrenceRule("acc/list/repeating", store, order_),
            (RecurrenceDescription{"Every 2 weeks on Monday, Wednesday",
                                   "for 5 occurrences"}));
  EXPECT_EQ(humanReadableRecurrenceRule("acc/list/plain", store, order_),
            (RecurrenceDescription{"No recurrence", std::nullopt}));
  // Nothing by that name (an event is no reminder either): absent, not
  // "No recurrence".
  EXPECT_EQ(humanReadableRecurrenceRule("acc/list/missing", store, order_),
            std::nullopt);
  EXPECT_EQ(humanReadableRecurrenceRule("", store, order_), std::nullopt);
}

}  // namespace
}  // namespace corvane
