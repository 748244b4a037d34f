#include "store/ical/item_parser.h"

#include <libical/ical.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/ical/content_line.h"
#include "store/ical/ical_zone.h"
#include "store/ical/item_scanner.h"
#include "store/ical/libical_component.h"
#include "store/ical/libical_todo.h"
#include "store/ical/nesting.h"
#include "store/ical/title_blanks.h"
#include "store/ical/value_scanner.h"
#include "store/utf8.h"

namespace corvane {
namespace {

// The calendar that holds the reminder, and the reminder's VTODO.
struct Found {
  icalcomponent* calendar = nullptr;
  icalcomponent* todo = nullptr;
};

Found findTodo(icalcomponent* root) {
  icalcomponent* todo = reminderTodoOf(root);
  if (!todo) return {};
  return {icalcomponent_get_parent(todo), todo};
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
  icalparameter* tzid =
      icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
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
  if (kind != ICAL_DATETIME_VALUE && kind != ICAL_DATE_VALUE)
    return std::nullopt;
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

// The kinds of line whose values corvane reads from the text itself:
// libical drops a rule it finds odd (INTERVAL=0, COUNT with UNTIL) and
// wraps numbers past 32 bits, where corvane shows values as they come.
// Such a line reaches libical renamed to an X- property whose value is the
// original value in hexadecimal, which libical keeps as it is.
constexpr std::string_view kRawPrefix = "X-CORVANE-RAW-";
constexpr std::string_view kRawKinds[] = {"RRULE", "PRIORITY"};

// Renames a line of a VTODO whose value corvane reads itself, and any line
// already carrying the prefix (so that only renamed lines carry it once).
// `todoDepth` follows BEGIN:VTODO and END:VTODO from line to line.
std::string rawLine(std::string_view line, int& todoDepth) {
  size_t nameEnd = line.find_first_of(";:");
  std::string_view name = line.substr(0, nameEnd);
  size_t colon = line.find(':');
  std::string_view value =
      colon == std::string_view::npos ? "" : line.substr(colon + 1);
  if (equalsIgnoringCase(name, "BEGIN") && equalsIgnoringCase(value, "VTODO"))
    ++todoDepth;
  else if (equalsIgnoringCase(name, "END") &&
           equalsIgnoringCase(value, "VTODO") && todoDepth > 0)
    --todoDepth;
  if (todoDepth == 0 || nameEnd == std::string_view::npos) return {};
  bool wanted =
      equalsIgnoringCase(name.substr(0, kRawPrefix.size()), kRawPrefix);
  for (auto kind : kRawKinds) wanted = wanted || equalsIgnoringCase(name, kind);
  if (!wanted) return {};
  std::optional<Property> property = parseProperty(line);
  if (!property) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  // Parameters are left behind: a VALUE=DATE, say, would make libical read
  // the encoded value as a date and drop it, where the quick reader, which
  // ignores parameters here, reads the value.
  std::string renamed(kRawPrefix);
  renamed.append(name);
  renamed += ':';
  for (unsigned char c : property->value) {
    renamed += kHex[c >> 4];
    renamed += kHex[c & 15];
  }
  return renamed;
}

// Hands libical the lines of a NUL-terminated text one by one, as its own
// string parser does: up to a line feed or, where no line feed is left (a
// file with CR line ends), up to a carriage return, handed on as a line feed.
char* nextLineOf(char* out, size_t size, void* data) {
  auto* rest = static_cast<std::string_view*>(data);
  if (rest->empty() || size < 2) return nullptr;
  size_t newline = rest->find('\n');
  bool carriageReturn = false;
  if (newline == std::string_view::npos) {
    newline = rest->find('\r');
    carriageReturn = newline != std::string_view::npos;
  }
  size_t take = newline == std::string_view::npos ? rest->size() : newline + 1;
  take = std::min(take, size - 1);
  std::memcpy(out, rest->data(), take);
  if (carriageReturn && take == newline + 1) out[newline] = '\n';
  out[take] = '\0';
  rest->remove_prefix(take);
  return out;
}

// libical's parse of `text`, the lines of kRawKinds renamed (rawLine). This
// is icalparser_parse_string with a look at each unfolded line.
ComponentPtr parseKeepingRawValues(const std::string& text) {
  std::string_view rest(text);
  icalparser* parser = icalparser_new();
  if (!parser) return nullptr;
  icalparser_set_gen_data(parser, &rest);
  icalerrorstate state = icalerror_get_error_state(ICAL_MALFORMEDDATA_ERROR);
  icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, ICAL_ERROR_NONFATAL);
  ComponentPtr root;
  int todoDepth = 0;
  while (true) {
    char* line = icalparser_get_line(parser, nextLineOf);
    std::string renamed = line ? rawLine(line, todoDepth) : std::string();
    icalcomponent* done =
        icalparser_add_line(parser, renamed.empty() ? line : renamed.data());
    if (done) {
      if (!root) {
        root.reset(done);
      } else {
        if (icalcomponent_isa(root.get()) != ICAL_XROOT_COMPONENT) {
          icalcomponent* both = icalcomponent_new(ICAL_XROOT_COMPONENT);
          icalcomponent_add_component(both, root.release());
          root.reset(both);
        }
        icalcomponent_add_component(root.get(), done);
      }
    }
    if (!line) break;
    icalmemory_free_buffer(line);
  }
  icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, state);
  icalparser_free(parser);
  return root;
}

// The original value of a line that rawLine renamed, when `property` is
// one of kind `kind`.
std::optional<std::string> rawValueOf(icalproperty* property,
                                      std::string_view kind) {
  if (icalproperty_isa(property) != ICAL_X_PROPERTY) return std::nullopt;
  const char* name = icalproperty_get_x_name(property);
  if (!name ||
      !equalsIgnoringCase(std::string_view(name).substr(0, kRawPrefix.size()),
                          kRawPrefix) ||
      !equalsIgnoringCase(std::string_view(name).substr(kRawPrefix.size()),
                          kind))
    return std::nullopt;
  const char* hex = icalvalue_get_x(icalproperty_get_value(property));
  std::string value;
  for (size_t i = 0; hex && hex[i] && hex[i + 1]; i += 2) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    value += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  }
  return value;
}

bool isCompleted(icalcomponent* todo) {
  if (icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY))
    return true;
  icalproperty* status =
      icalcomponent_get_first_property(todo, ICAL_STATUS_PROPERTY);
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

std::optional<Reminder> parseReminderWithLibical(
    std::string_view calendarText) {
  if (nestsTooDeep(calendarText)) return std::nullopt;
  prepareLibical();
  // libical wants a NUL-terminated text and stops at the first NUL.
  std::string text = foldedForLibical(calendarText);
  ComponentPtr root = parseKeepingRawValues(text);
  if (!root) return std::nullopt;
  Found found = findTodo(root.get());
  if (!found.todo) return std::nullopt;
  icalcomponent* todo = found.todo;

  Reminder reminder;
  reminder.title = textOf(todo, ICAL_SUMMARY_PROPERTY);
  if (reminder.title)
    if (auto kept = titleKeepingBlanks(calendarText, *reminder.title))
      reminder.title = std::move(*kept);
  reminder.notes = textOf(todo, ICAL_DESCRIPTION_PROPERTY);
  reminder.isCompleted = isCompleted(todo);
  bool priorityRead = false;
  for (icalproperty* property =
           icalcomponent_get_first_property(todo, ICAL_X_PROPERTY);
       property;
       property = icalcomponent_get_next_property(todo, ICAL_X_PROPERTY)) {
    if (auto rule = rawValueOf(property, "RRULE")) {
      if (auto read = ruleFromText(*rule))
        reminder.recurrenceRules.push_back(*read);
    } else if (auto priority = rawValueOf(property, "PRIORITY");
               priority && !priorityRead) {
      reminder.priority = numberFromText(*priority).value_or(0);
      priorityRead = true;
    }
  }
  reminder.hasAlarms =
      icalcomponent_get_first_component(todo, ICAL_VALARM_COMPONENT) != nullptr;
  reminder.creationDate =
      instantOf(todo, ICAL_CREATED_PROPERTY, found.calendar);
  reminder.lastModifiedDate =
      instantOf(todo, ICAL_LASTMODIFIED_PROPERTY, found.calendar);
  icalproperty* due = icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY);
  if (auto time = timeOf(due))
    reminder.dueDateComponents = componentsOf(due, *time, found.calendar);
  return reminder;
}

}  // namespace corvane
