#include "store/item_parser.h"

#include <libical/ical.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/ical_zone.h"
#include "store/item_scanner.h"
#include "store/reminder_todo.h"
#include "store/utf8.h"

namespace corvane {
namespace {

struct ComponentFree {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

// libical's tree as the rule that chooses the reminder's VTODO sees it.
struct LibicalTree {
  static ComponentKind kindOf(icalcomponent* component) {
    switch (icalcomponent_isa(component)) {
      case ICAL_VCALENDAR_COMPONENT:
        return ComponentKind::kCalendar;
      case ICAL_VTODO_COMPONENT:
        return ComponentKind::kTodo;
      default:
        return ComponentKind::kOther;
    }
  }
  static bool isOverride(icalcomponent* component) {
    return icalcomponent_get_first_property(
               component, ICAL_RECURRENCEID_PROPERTY) != nullptr;
  }
  static std::vector<icalcomponent*> childrenOf(icalcomponent* parent) {
    std::vector<icalcomponent*> children;
    for (icalcomponent* child =
             icalcomponent_get_first_component(parent, ICAL_ANY_COMPONENT);
         child;
         child = icalcomponent_get_next_component(parent, ICAL_ANY_COMPONENT))
      children.push_back(child);
    return children;
  }
};

// The calendar that holds the reminder, and the reminder's VTODO.
struct Found {
  icalcomponent* calendar = nullptr;
  icalcomponent* todo = nullptr;
};

Found findTodo(icalcomponent* root) {
  // libical gathers the components of a file with several under one root.
  std::vector<icalcomponent*> topLevel =
      icalcomponent_isa(root) == ICAL_XROOT_COMPONENT
          ? LibicalTree::childrenOf(root)
          : std::vector<icalcomponent*>{root};
  std::optional<icalcomponent*> todo = reminderTodo(topLevel, LibicalTree{});
  if (!todo) return {};
  return {icalcomponent_get_parent(*todo), *todo};
}

std::optional<std::string> textOf(icalcomponent* todo, icalproperty_kind kind) {
  icalproperty* property = icalcomponent_get_first_property(todo, kind);
  if (!property) return std::nullopt;
  const char* text = icalvalue_get_text(icalproperty_get_value(property));
  if (!text) return std::nullopt;
  return repairUtf8(text);
}

// The zone a date-time property is meant in: UTC for a "Z" value, the
// zone its TZID names, or none (floating, or a TZID nobody knows).
std::shared_ptr<const TimeZone> zoneOf(icalproperty* property,
                                       const icaltimetype& time,
                                       icalcomponent* calendar) {
  if (icaltime_is_utc(time)) return utcTimeZone();
  icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  const char* name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
  if (!name) return nullptr;
  return icalZoneFor(calendar, name);
}

DueDateComponents componentsOf(icalproperty* property, const icaltimetype& time,
                               icalcomponent* calendar) {
  DueDateComponents components;
  components.year = time.year;
  components.month = time.month;
  components.day = time.day;
  if (!time.is_date) {
    components.hour = time.hour;
    components.minute = time.minute;
    components.second = time.second;
  }
  components.timeZone = zoneOf(property, time, calendar);
  return components;
}

std::optional<icaltimetype> timeOf(icalproperty* property) {
  if (!property) return std::nullopt;
  icalvalue* value = icalproperty_get_value(property);
  if (!value) return std::nullopt;
  icalvalue_kind kind = icalvalue_isa(value);
  if (kind != ICAL_DATETIME_VALUE && kind != ICAL_DATE_VALUE) return std::nullopt;
  icaltimetype time = icalvalue_get_datetime(value);
  if (icaltime_is_null_time(time)) return std::nullopt;
  return time;
}

std::optional<Instant> instantOf(icalcomponent* todo, icalproperty_kind kind,
                                 icalcomponent* calendar) {
  icalproperty* property = icalcomponent_get_first_property(todo, kind);
  auto time = timeOf(property);
  if (!time) return std::nullopt;
  return resolveComponents(componentsOf(property, *time, calendar));
}

std::optional<Instant> untilOf(const icaltimetype& until) {
  if (icaltime_is_null_time(until)) return std::nullopt;
  DueDateComponents components;
  components.year = until.year;
  components.month = until.month;
  components.day = until.day;
  if (!until.is_date) {
    components.hour = until.hour;
    components.minute = until.minute;
    components.second = until.second;
  }
  if (icaltime_is_utc(until)) components.timeZone = utcTimeZone();
  return resolveComponents(components);
}

int frequencyOf(icalrecurrencetype_frequency frequency) {
  switch (frequency) {
    case ICAL_DAILY_RECURRENCE: return static_cast<int>(Frequency::kDaily);
    case ICAL_WEEKLY_RECURRENCE: return static_cast<int>(Frequency::kWeekly);
    case ICAL_MONTHLY_RECURRENCE: return static_cast<int>(Frequency::kMonthly);
    case ICAL_YEARLY_RECURRENCE: return static_cast<int>(Frequency::kYearly);
    case ICAL_HOURLY_RECURRENCE: return kFrequencyHourly;
    case ICAL_MINUTELY_RECURRENCE: return kFrequencyMinutely;
    default: return kFrequencySecondly;
  }
}

template <size_t N, class Each>
auto listOf(const short (&values)[N], Each each)
    -> std::optional<std::vector<decltype(each(short{}))>> {
  std::vector<decltype(each(short{}))> list;
  for (size_t i = 0; i < N && values[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i)
    list.push_back(each(values[i]));
  if (list.empty()) return std::nullopt;
  return list;
}

std::optional<RecurrenceRule> ruleOf(icalproperty* property) {
  icalrecurrencetype recurrence = icalproperty_get_rrule(property);
  if (recurrence.freq == ICAL_NO_RECURRENCE) return std::nullopt;
  RecurrenceRule rule;
  rule.frequency = frequencyOf(recurrence.freq);
  rule.interval = recurrence.interval;
  rule.daysOfTheWeek = listOf(recurrence.by_day, [](short day) {
    return RecurrenceDayOfWeek{
        static_cast<int>(icalrecurrencetype_day_day_of_week(day)),
        icalrecurrencetype_day_position(day)};
  });
  rule.daysOfTheMonth =
      listOf(recurrence.by_month_day, [](short day) { return int{day}; });
  rule.monthsOfTheYear = listOf(recurrence.by_month, [](short month) {
    return icalrecurrencetype_month_month(month);
  });
  auto until = untilOf(recurrence.until);
  if (until || recurrence.count > 0)
    rule.recurrenceEnd = RecurrenceEnd{until, recurrence.count};
  return rule;
}

bool isCompleted(icalcomponent* todo) {
  if (icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY)) return true;
  icalproperty* status = icalcomponent_get_first_property(todo, ICAL_STATUS_PROPERTY);
  if (!status) return false;
  icalproperty_status value = icalproperty_get_status(status);
  return value == ICAL_STATUS_COMPLETED || value == ICAL_STATUS_CANCELLED;
}

// libical builds its table of known zones on first use, without a lock,
// and reading any UTC time uses it; items are read on several threads at
// once, so the table is built before the first of them starts.
void prepareLibical() {
  static std::once_flag zonesReady;
  std::call_once(zonesReady, [] { icaltimezone_get_utc_timezone(); });
}

// Whether `name` starts at `at`, letters in any case, with line folds (a
// line end followed by a blank or tab) allowed between its letters, the
// way a reader that unfolds lines first would see it.
bool startsWithUnfolded(std::string_view text, size_t at, std::string_view name) {
  for (char wanted : name) {
    while (true) {
      if (at < text.size() && text[at] == '\r') {
        size_t next = at + 1 < text.size() && text[at + 1] == '\n' ? at + 2 : at + 1;
        if (next < text.size() && (text[next] == ' ' || text[next] == '\t')) {
          at = next + 1;
          continue;
        }
      } else if (at < text.size() && text[at] == '\n' && at + 1 < text.size() &&
                 (text[at + 1] == ' ' || text[at + 1] == '\t')) {
        at += 2;
        continue;
      }
      break;
    }
    if (at >= text.size() || (text[at] | 0x20) != (wanted | 0x20)) return false;
    ++at;
  }
  return true;
}

}  // namespace

bool mayHaveDueDate(std::string_view calendarText) {
  // A property name starts a line, and nothing but a fold can come between
  // the letters of a name, so looking for "D" "U" "E" from each "D" or "d"
  // finds every DUE there is (and some words that merely contain it).
  for (size_t at = 0; at < calendarText.size(); ++at) {
    char c = calendarText[at];
    if ((c == 'D' || c == 'd') && startsWithUnfolded(calendarText, at, "DUE"))
      return true;
  }
  return false;
}

// libical grows a line it reads in small steps and measures it again at
// each one, so a single very long line costs time by the square of its
// length. Folding a line changes nothing for any reader of iCalendar, so
// long lines are folded before libical sees them.
std::string foldedForLibical(std::string_view text) {
  constexpr size_t kWidth = 4096;
  std::string folded;
  folded.reserve(text.size() + text.size() / kWidth * 2);
  size_t run = 0;
  for (char c : text) {
    if (c == '\n') {
      run = 0;
    } else if (run >= kWidth && c != '\r') {
      folded += "\n ";
      run = 0;
    }
    folded += c;
    if (c != '\n') ++run;
  }
  return folded;
}

std::optional<Reminder> parseReminder(std::string_view calendarText) {
  prepareLibical();
  if (auto quick = scanReminder(calendarText)) return quick;
  return parseReminderWithLibical(calendarText);
}

std::optional<Reminder> parseReminderWithLibical(std::string_view calendarText) {
  prepareLibical();
  // libical wants a NUL-terminated text and stops at the first NUL.
  std::string text = foldedForLibical(calendarText);
  ComponentPtr root(icalparser_parse_string(text.c_str()));
  if (!root) return std::nullopt;
  Found found = findTodo(root.get());
  if (!found.todo) return std::nullopt;
  icalcomponent* todo = found.todo;

  Reminder reminder;
  reminder.title = textOf(todo, ICAL_SUMMARY_PROPERTY);
  reminder.notes = textOf(todo, ICAL_DESCRIPTION_PROPERTY);
  reminder.isCompleted = isCompleted(todo);
  if (icalproperty* priority =
          icalcomponent_get_first_property(todo, ICAL_PRIORITY_PROPERTY))
    reminder.priority = icalproperty_get_priority(priority);
  reminder.hasAlarms =
      icalcomponent_get_first_component(todo, ICAL_VALARM_COMPONENT) != nullptr;
  for (icalproperty* rrule =
           icalcomponent_get_first_property(todo, ICAL_RRULE_PROPERTY);
       rrule; rrule = icalcomponent_get_next_property(todo, ICAL_RRULE_PROPERTY)) {
    if (auto rule = ruleOf(rrule)) reminder.recurrenceRules.push_back(*rule);
  }
  reminder.creationDate = instantOf(todo, ICAL_CREATED_PROPERTY, found.calendar);
  reminder.lastModifiedDate =
      instantOf(todo, ICAL_LASTMODIFIED_PROPERTY, found.calendar);
  icalproperty* due = icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY);
  if (auto time = timeOf(due))
    reminder.dueDateComponents = componentsOf(due, *time, found.calendar);
  return reminder;
}

}  // namespace corvane
