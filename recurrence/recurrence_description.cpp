#include "recurrence/recurrence_description.h"

#include <algorithm>
#include <set>

#include "recurrence/medium_date.h"
#include "recurrence/month_names.h"

namespace corvane {

namespace {

const std::set<int> kMondayToFriday = {2, 3, 4, 5, 6};
const std::set<int> kSaturdayAndSunday = {7, 1};

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) {
    if (!text.empty()) text += ", ";
    text += item;
  }
  return text;
}

// "Weekly", or "Every 3 weeks" for any other interval, 0 and negative ones
// included: the store's value is shown as it is.
std::string everyInterval(std::int64_t interval, const char* plain,
                          const char* unit) {
  if (interval == 1) return plain;
  return "Every " + std::to_string(interval) + " " + unit;
}

// Names sorted Sunday first. A name outside the table ("Unknown Day") sorts
// after Saturday rather than stopping the description.
void sortByWeekday(std::vector<std::string>& names,
                   const WeekdayOrder& weekdayOrder) {
  auto place = [&](const std::string& name) {
    auto found = weekdayOrder.find(name);
    return found == weekdayOrder.end() ? 7 : found->second;
  };
  std::stable_sort(names.begin(), names.end(),
                   [&](const std::string& a, const std::string& b) {
                     return place(a) < place(b);
                   });
}

std::string describeWeekly(const RecurrenceRule& rule,
                           const WeekdayOrder& weekdayOrder) {
  std::string every = everyInterval(rule.interval, "Weekly", "weeks");
  if (!rule.daysOfTheWeek || rule.daysOfTheWeek->empty()) return every;
  const auto& days = *rule.daysOfTheWeek;
  std::set<int> weekdays;
  for (const auto& day : days) weekdays.insert(day.dayOfTheWeek);
  if (weekdays == kMondayToFriday) return "Weekdays";
  if (weekdays == kSaturdayAndSunday) return "Weekends";
  // Every entry is named, so a day listed twice shows twice.
  std::vector<std::string> names;
  for (const auto& day : days) names.push_back(weekdayName(day.dayOfTheWeek));
  sortByWeekday(names, weekdayOrder);
  return every + " on " + joined(names);
}

std::string describeMonthly(const RecurrenceRule& rule) {
  std::string text = everyInterval(rule.interval, "Monthly", "months");
  if (!rule.daysOfTheMonth || rule.daysOfTheMonth->empty()) return text;
  std::vector<std::string> days;
  for (std::int64_t day : *rule.daysOfTheMonth)
    days.push_back(std::to_string(day));
  return text + " on day(s) " + joined(days);
}

std::string describeYearly(const RecurrenceRule& rule) {
  std::string text = everyInterval(rule.interval, "Yearly", "years");
  if (!rule.monthsOfTheYear || rule.monthsOfTheYear->empty()) return text;
  std::vector<std::string> months;
  for (std::int64_t month : *rule.monthsOfTheYear)
    months.push_back(toMonthName(month));
  return text + " in " + joined(months);
}

std::string describeFrequency(const RecurrenceRule& rule,
                              const WeekdayOrder& weekdayOrder) {
  switch (rule.frequency) {
    case static_cast<int>(Frequency::kDaily):
      return everyInterval(rule.interval, "Daily", "days");
    case static_cast<int>(Frequency::kWeekly):
      return describeWeekly(rule, weekdayOrder);
    case static_cast<int>(Frequency::kMonthly):
      return describeMonthly(rule);
    case static_cast<int>(Frequency::kYearly):
      return describeYearly(rule);
    default:
      return "Repeats";
  }
}

std::optional<std::string> describeEnd(
    const std::optional<RecurrenceEnd>& end) {
  if (!end) return std::nullopt;
  // An end date wins over a count.
  if (end->endDate) return "until " + mediumDate(*end->endDate);
  return "for " + std::to_string(end->occurrenceCount) + " occurrences";
}

}  // namespace

RecurrenceDescription describeRecurrenceRules(
    const std::vector<RecurrenceRule>& rules,
    const WeekdayOrder& weekdayOrder) {
  if (rules.empty()) return {"No recurrence", std::nullopt};
  const RecurrenceRule& rule = rules.front();
  return {describeFrequency(rule, weekdayOrder),
          describeEnd(rule.recurrenceEnd)};
}

std::optional<RecurrenceDescription> humanReadableRecurrenceRule(
    const std::string& reminderId, ReminderStore& store,
    const WeekdayOrder& weekdayOrder) {
  ReminderPtr reminder = store.reminderWithIdentifier(reminderId);
  if (!reminder) return std::nullopt;
  return describeRecurrenceRules(reminder->recurrenceRules, weekdayOrder);
}

}  // namespace corvane
