#include "store/ical/recurrence_set.h"

#include <libical/ical.h>

#include <algorithm>

#include "store/ical/ical_zone.h"
#include "store/ical/libical_component.h"
#include "store/ical/libical_todo.h"
#include "store/ical/nesting.h"
#include "store/ical/recurrence_lines.h"

namespace corvane {
namespace {

// The zone a TZID names, by the readers' lookup; null (a floating time)
// when nothing knows it, as a reader takes such a time.
icaltimezone* zoneNamed(icalcomponent* todo, const char* tzid) {
  icalcomponent* parent = icalcomponent_get_parent(todo);
  bool inCalendar =
      parent && icalcomponent_isa(parent) == ICAL_VCALENDAR_COMPONENT;
  return libicalZoneFor(inCalendar ? parent : nullptr, tzid);
}

// The date or date-time of a property with its zone attached; null time
// when the property holds none.
icaltimetype timeOf(icalcomponent* todo, icalproperty* property,
                    icaltimetype value) {
  if (icaltime_is_null_time(value) || icaltime_is_utc(value) || value.is_date)
    return value;
  icalparameter* tzid =
      icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
  const char* name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
  if (name) value.zone = zoneNamed(todo, name);
  return value;
}

icaltimetype dateTimeOf(icalcomponent* todo, icalproperty* property) {
  if (!property) return icaltime_null_time();
  icalvalue* value = icalproperty_get_value(property);
  if (!value) return icaltime_null_time();
  icalvalue_kind kind = icalvalue_isa(value);
  if (kind != ICAL_DATETIME_VALUE && kind != ICAL_DATE_VALUE)
    return icaltime_null_time();
  return timeOf(todo, property, icalvalue_get_datetime(value));
}

// `time` in the form of the series' start, so that set members compare
// field by field: a date for a date series; otherwise the start's zone, a
// date taking the start's time of day.
icaltimetype inFormOf(icaltimetype time, const icaltimetype& start) {
  if (start.is_date) {
    time.is_date = 1;
    time.hour = time.minute = time.second = 0;
    time.zone = nullptr;
    return time;
  }
  if (time.is_date) {
    time.is_date = 0;
    time.hour = start.hour;
    time.minute = start.minute;
    time.second = start.second;
    time.zone = start.zone;
    return time;
  }
  if (start.zone && time.zone)
    return icaltime_convert_to_zone(time,
                                    const_cast<icaltimezone*>(start.zone));
  time.zone = start.zone;  // a floating time is read on the start's clock
  return time;
}

bool before(const icaltimetype& a, const icaltimetype& b) {
  return icaltime_compare(a, b) < 0;
}

bool same(const icaltimetype& a, const icaltimetype& b) {
  return icaltime_compare(a, b) == 0;
}

std::string valueText(const icaltimetype& time) {
  char* text = icaltime_as_ical_string_r(time);
  std::string value = text ? text : "";
  icalmemory_free_buffer(text);
  return value;
}

// A series as libical reads it: where it starts and what makes its set.
class Series {
 public:
  // Absent when the text holds no repeating reminder with a start.
  static std::optional<Series> read(std::string_view calendarText) {
    if (nestsTooDeep(calendarText)) return std::nullopt;
    // libical reads only what the set depends on: a copy of the whole,
    // parsed, would take several times the item's size.
    std::string text = recurrenceLines(calendarText);
    ComponentPtr root(icalparser_parse_string(text.c_str()));
    if (!root) return std::nullopt;
    // The reminder that the readers show; an overridden occurrence kept
    // without its series is no series.
    icalcomponent* todo = reminderTodoOf(root.get());
    if (!todo ||
        icalcomponent_get_first_property(todo, ICAL_RECURRENCEID_PROPERTY))
      return std::nullopt;
    Series series;
    // The zones of the file's VTIMEZONEs live in the parsed calendar.
    series.root_ = std::move(root);
    series.start_ = dateTimeOf(
        todo, icalcomponent_get_first_property(todo, ICAL_DTSTART_PROPERTY));
    series.due_ = dateTimeOf(
        todo, icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY));
    series.hasStart_ = !icaltime_is_null_time(series.start_);
    if (!series.hasStart_) series.start_ = series.due_;
    if (icaltime_is_null_time(series.start_)) return std::nullopt;
    for (icalproperty* p =
             icalcomponent_get_first_property(todo, ICAL_RRULE_PROPERTY);
         p; p = icalcomponent_get_next_property(todo, ICAL_RRULE_PROPERTY)) {
      series.rules_.push_back(icalproperty_get_rrule(p));
    }
    for (icalproperty* p =
             icalcomponent_get_first_property(todo, ICAL_RDATE_PROPERTY);
         p; p = icalcomponent_get_next_property(todo, ICAL_RDATE_PROPERTY)) {
      icaldatetimeperiodtype date = icalproperty_get_rdate(p);
      icaltimetype time =
          icaltime_is_null_time(date.time) ? date.period.start : date.time;
      if (icaltime_is_null_time(time)) continue;
      series.extra_.push_back(inFormOf(timeOf(todo, p, time), series.start_));
    }
    for (icalproperty* p =
             icalcomponent_get_first_property(todo, ICAL_EXDATE_PROPERTY);
         p; p = icalcomponent_get_next_property(todo, ICAL_EXDATE_PROPERTY)) {
      icaltimetype time = timeOf(todo, p, icalproperty_get_exdate(p));
      if (!icaltime_is_null_time(time))
        series.excluded_.push_back(inFormOf(time, series.start_));
    }
    if (series.rules_.empty() && series.extra_.empty()) return std::nullopt;
    return series;
  }

  // The set from the start on, at most `limit` members: the start (the
  // current occurrence, whatever the rules say of it), then what the
  // rules and extra dates make after it, less the excluded dates.
  std::vector<icaltimetype> upcoming(std::size_t limit) const {
    std::vector<icaltimetype> candidates;
    // Enough of each rule that, after exclusions, `limit` members remain.
    const std::size_t perRule = limit + excluded_.size() + 1;
    for (const auto& rule : rules_) {
      for (const icaltimetype& time : ruleOccurrences(rule, perRule))
        candidates.push_back(time);
    }
    for (const icaltimetype& time : extra_) candidates.push_back(time);
    std::vector<icaltimetype> set{start_};
    std::sort(candidates.begin(), candidates.end(), before);
    for (const icaltimetype& time : candidates) {
      if (set.size() >= limit) break;
      if (!before(set.back(), time)) continue;  // past, or already in
      bool excluded =
          std::any_of(excluded_.begin(), excluded_.end(),
                      [&](const icaltimetype& x) { return same(x, time); });
      if (!excluded) set.push_back(time);
    }
    if (set.size() > limit) set.resize(limit);
    return set;
  }

  std::optional<SeriesStep> stepTo(const icaltimetype& next) const {
    SeriesStep step;
    icaltimetype newStart = next;
    if (hasStart_) step.start = valueText(newStart);
    if (!icaltime_is_null_time(due_))
      step.due = hasStart_ ? valueText(dueFrom(newStart)) : valueText(newStart);
    for (const auto& rule : rules_) {
      if (rule.count <= 0) {
        step.counts.push_back(std::nullopt);
        continue;
      }
      // Occurrences the rule made before the next one are used up,
      // excluded ones included: COUNT counts them too.
      auto used =
          ruleOccurrences(rule, static_cast<std::size_t>(rule.count), &next)
              .size();
      step.counts.push_back(rule.count - static_cast<int>(used));
    }
    return step;
  }

 private:
  // The rule's first `limit` occurrences, counted from the start, and
  // only those before `end` where one is given.
  std::vector<icaltimetype> ruleOccurrences(
      const icalrecurrencetype& rule, std::size_t limit,
      const icaltimetype* end = nullptr) const {
    std::vector<icaltimetype> times;
    icalrecur_iterator* it = icalrecur_iterator_new(rule, start_);
    if (!it) return times;
    while (times.size() < limit) {
      icaltimetype time = icalrecur_iterator_next(it);
      if (icaltime_is_null_time(time)) break;
      time.zone = start_.zone;
      time.is_date = start_.is_date;
      if (end && !before(time, *end)) break;
      times.push_back(time);
    }
    icalrecur_iterator_free(it);
    return times;
  }

  // DUE for a series moved to start at `newStart`, as far from it as DUE
  // is from DTSTART now: on the clock when both read the same clock, so
  // that 09:00 to 10:00 stays so across a clock change; else in elapsed
  // time.
  icaltimetype dueFrom(const icaltimetype& newStart) const {
    bool otherZone = start_.zone && due_.zone && start_.zone != due_.zone &&
                     !start_.is_date && !due_.is_date;
    if (otherZone) {
      icaltimetype due =
          icaltime_add(newStart, icaltime_subtract(due_, start_));
      return icaltime_convert_to_zone(due,
                                      const_cast<icaltimezone*>(due_.zone));
    }
    icaltimetype from = start_, to = due_, moved = newStart;
    for (icaltimetype* t : {&from, &to, &moved}) {
      t->zone = nullptr;
      t->is_date = 0;
    }
    icaltimetype due = icaltime_add(moved, icaltime_subtract(to, from));
    due.zone = due_.zone;
    due.is_date = due_.is_date;
    if (due.is_date) due.hour = due.minute = due.second = 0;
    return due;
  }

  ComponentPtr root_;
  icaltimetype start_{};
  icaltimetype due_{};
  bool hasStart_ = false;
  std::vector<icalrecurrencetype> rules_;
  std::vector<icaltimetype> extra_;     // RDATEs, in the start's form
  std::vector<icaltimetype> excluded_;  // EXDATEs, in the start's form
};

}  // namespace

std::optional<std::vector<std::string>> upcomingOccurrences(
    std::string_view calendarText, std::size_t limit) {
  std::optional<Series> series = Series::read(calendarText);
  if (!series) return std::nullopt;
  std::vector<std::string> texts;
  for (const icaltimetype& time : series->upcoming(limit))
    texts.push_back(valueText(time));
  return texts;
}

std::optional<SeriesStep> stepToNextOccurrence(std::string_view calendarText) {
  std::optional<Series> series = Series::read(calendarText);
  if (!series) return std::nullopt;
  std::vector<icaltimetype> upcoming = series->upcoming(2);
  if (upcoming.size() < 2) return std::nullopt;
  return series->stepTo(upcoming[1]);
}

}  // namespace corvane
