#include "store/ical/item_scanner.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "store/ical/content_line.h"
#include "store/ical/ical_zone.h"
#include "store/ical/reminder_todo.h"
#include "store/ical/value_scanner.h"

namespace corvane {
namespace {

// The properties of one VTODO that the reminder is made of, still as text.
struct TodoLines {
  std::optional<Property> summary, description, status, completed, priority,
      created, lastModified, due, recurrenceId;
  std::vector<Property> rules;
  bool hasAlarm = false;
};

struct ZoneBlock {
  std::string_view tzid;
  std::string_view text;  // BEGIN:VTIMEZONE through END:VTIMEZONE
};

enum class Component { kCalendar, kTimeZone, kZoneRule, kTodo, kAlarm };

bool isPlainName(std::string_view name) {
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
          (c >= '0' && c <= '9') || c == '-'))
      return false;
  return true;
}

// libical reads names in any case; a name that matches one corvane reads
// only when case is ignored is left to libical.
enum class NameMatch { kNo, kYes, kOddCase };
NameMatch matchName(std::string_view name, std::string_view wanted) {
  if (name == wanted) return NameMatch::kYes;
  return equalsIgnoringCase(name, wanted) ? NameMatch::kOddCase
                                          : NameMatch::kNo;
}

// The length of the well-formed UTF-8 sequence of two to four bytes that
// starts `s`, or 0 (the table of well-formed sequences of Unicode 3.9).
size_t multibyteLength(const unsigned char* s, size_t left) {
  auto follows = [&](size_t i, unsigned char low, unsigned char high) {
    return i < left && s[i] >= low && s[i] <= high;
  };
  unsigned char c = s[0];
  if (c >= 0xC2 && c <= 0xDF) return follows(1, 0x80, 0xBF) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    unsigned char low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    unsigned char low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) &&
                   follows(3, 0x80, 0xBF)
               ? 4
               : 0;
  }
  return 0;
}

// Valid UTF-8 without NUL or control characters other than line ends and
// the blank or tab that starts a folded line. Every byte of every item
// passes here, so runs of eight printable ASCII bytes are taken at once.
bool isPlainText(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  constexpr uint64_t kOnes = 0x0101010101010101ULL,
                     kHigh = 0x8080808080808080ULL;
  size_t i = 0;
  while (i < size) {
    if (i + 8 <= size) {
      uint64_t w;
      std::memcpy(&w, s + i, 8);
      uint64_t del = w ^ (0x7F * kOnes);
      bool printable = !(w & kHigh) && !((w - 0x20 * kOnes) & ~w & kHigh) &&
                       !((del - kOnes) & ~del & kHigh);
      if (printable) {
        i += 8;
        continue;
      }
    }
    unsigned char c = s[i];
    if ((c >= 0x20 && c < 0x7F) || c == '\n' ||
        (c == '\t' && i > 0 && s[i - 1] == '\n')) {
      ++i;
    } else if (c == '\r' && i + 1 < size && s[i + 1] == '\n') {
      i += 2;
    } else if (size_t length =
                   c >= 0x80 ? multibyteLength(s + i, size - i) : 0) {
      i += length;
    } else {
      return false;
    }
  }
  return true;
}

// What a scan keeps while it reads. Each thread keeps one, so that reading
// many items does not make them anew for each.
struct Scratch {
  std::vector<Component> stack;         // the components open at a line
  std::vector<std::string_view> names;  // and their names
  std::vector<TodoLines> todos;
  std::vector<ZoneBlock> zones;
  std::string unfolded;  // for the lines that were folded, made whole

  void clear() {
    stack.clear();
    names.clear();
    todos.clear();
    zones.clear();
  }
};

class Scanner {
 public:
  Scanner(std::string_view text, Scratch& scratch)
      : text_(text),
        stack_(scratch.stack),
        names_(scratch.names),
        todos_(scratch.todos),
        zones_(scratch.zones),
        unfolded_(scratch.unfolded) {
    scratch.clear();
  }

  std::optional<Reminder> scan() {
    if (!isPlainText(text_)) return std::nullopt;
    // Plain text has no carriage return but before a line feed.
    ContentLineReader reader(text_, unfolded_,
                             CarriageReturns::kOnlyBeforeLineFeeds);
    while (std::optional<ContentLineView> line = reader.next())
      if (!takeLine(*line)) return std::nullopt;
    if (!ended_ || todos_.empty()) return std::nullopt;
    return reminder();
  }

 private:
  bool takeLine(const ContentLineView& line) {
    // An empty line, and a fold with nothing to continue, libical reads its
    // own way: so does a line that begins empty and is folded.
    char first = text_[line.begin];
    if (first == '\r' || first == '\n' || first == ' ' || first == '\t')
      return false;
    std::optional<Property> parsed = parseProperty(line.unfolded);
    if (!parsed) return false;
    const Property& content = *parsed;
    // A ';' ends the name: parameters must follow it, none of them quoted.
    bool hasParams = line.unfolded[content.name.size()] == ';';
    if (hasParams && (content.params.empty() ||
                      content.params.find('"') != std::string_view::npos))
      return false;
    // Names are letters, digits and "-"; libical reads others its own way
    // (it trims blanks around a name, for one).
    if (!isPlainName(content.name)) return false;

    if (ended_) return false;  // nothing may follow the calendar
    if (auto match = matchName(content.name, "BEGIN"); match != NameMatch::kNo)
      return match == NameMatch::kYes && !hasParams &&
             begin(content.value, line.begin);
    if (auto match = matchName(content.name, "END"); match != NameMatch::kNo)
      return match == NameMatch::kYes && !hasParams &&
             end(content.value, line.end);
    if (stack_.empty()) return false;
    switch (stack_.back()) {
      case Component::kTodo:
        return takeTodoLine(content);
      case Component::kTimeZone:
        return takeZoneLine(content);
      default:
        return true;  // nothing corvane reads
    }
  }

  bool begin(std::string_view name, size_t lineStart) {
    std::optional<Component> parent;
    if (!stack_.empty()) parent = stack_.back();
    Component component;
    if (name == "VCALENDAR" && !parent && !begun_) {
      component = Component::kCalendar;
      begun_ = true;
    } else if (name == "VTODO" && parent == Component::kCalendar) {
      component = Component::kTodo;
      todos_.emplace_back();
    } else if (name == "VALARM" && parent == Component::kTodo) {
      component = Component::kAlarm;
      todos_.back().hasAlarm = true;
    } else if (name == "VTIMEZONE" && parent == Component::kCalendar) {
      component = Component::kTimeZone;
      zones_.push_back({{}, text_.substr(lineStart)});
    } else if ((name == "STANDARD" || name == "DAYLIGHT") &&
               parent == Component::kTimeZone) {
      component = Component::kZoneRule;
    } else {
      return false;  // another component, or one in an odd place
    }
    stack_.push_back(component);
    names_.push_back(name);
    return true;
  }

  bool end(std::string_view name, size_t lineEnd) {
    if (stack_.empty() || names_.back() != name) return false;
    Component top = stack_.back();
    if (top == Component::kTimeZone) {
      std::string_view& block = zones_.back().text;
      block = block.substr(0, lineEnd - (block.data() - text_.data()));
    }
    stack_.pop_back();
    names_.pop_back();
    if (stack_.empty()) ended_ = true;
    return true;
  }

  bool takeTodoLine(const Property& line) {
    TodoLines& todo = todos_.back();
    struct Wanted {
      std::string_view name;
      std::optional<Property> TodoLines::*slot;
    };
    static constexpr Wanted kWanted[] = {
        {"SUMMARY", &TodoLines::summary},
        {"DESCRIPTION", &TodoLines::description},
        {"STATUS", &TodoLines::status},
        {"COMPLETED", &TodoLines::completed},
        {"PRIORITY", &TodoLines::priority},
        {"CREATED", &TodoLines::created},
        {"LAST-MODIFIED", &TodoLines::lastModified},
        {"DUE", &TodoLines::due},
        {"RECURRENCE-ID", &TodoLines::recurrenceId},
    };
    for (const auto& wanted : kWanted) {
      switch (matchName(line.name, wanted.name)) {
        case NameMatch::kNo:
          continue;
        case NameMatch::kOddCase:
          return false;
        case NameMatch::kYes:
          // The first of a kind is the one that counts, as for libical.
          if (!(todo.*wanted.slot)) todo.*wanted.slot = line;
          return true;
      }
    }
    switch (matchName(line.name, "RRULE")) {
      case NameMatch::kNo:
        return true;
      case NameMatch::kOddCase:
        return false;
      case NameMatch::kYes:
        todo.rules.push_back(line);
        return true;
    }
    return true;
  }

  bool takeZoneLine(const Property& line) {
    switch (matchName(line.name, "TZID")) {
      case NameMatch::kNo:
        return true;
      case NameMatch::kOddCase:
        return false;
      case NameMatch::kYes:
        break;
    }
    ZoneBlock& zone = zones_.back();
    if (!zone.tzid.empty()) return true;
    if (!line.params.empty() || !isPlainZoneName(line.value)) return false;
    zone.tzid = line.value;
    return true;
  }

  // The zone a TZID names: the calendar's own VTIMEZONE first, then the
  // time zone database, in the order libical's reading takes them.
  std::shared_ptr<const TimeZone> zoneNamed(std::string_view tzid) const {
    for (const auto& zone : zones_) {
      if (zone.tzid != tzid) continue;
      if (auto defined = icalZoneFromText(zone.text)) return defined;
      break;
    }
    return icalZoneFor(nullptr, std::string(tzid));
  }

  std::optional<DueDateComponents> componentsOf(const Property& line) const {
    auto time = scanTimeProperty(line.params, line.value);
    if (!time) return std::nullopt;
    DueDateComponents components = time->components;
    if (time->utc)
      components.timeZone = utcTimeZone();
    else if (!time->tzid.empty())
      components.timeZone = zoneNamed(time->tzid);
    return components;
  }

  // Reads an optional date property; false when it is there but declined.
  bool instantOf(const std::optional<Property>& line,
                 std::optional<Instant>& instant) const {
    if (!line) return true;
    auto components = componentsOf(*line);
    if (!components) return false;
    instant = resolveComponents(*components);
    return true;
  }

  // Reads an optional text property; false when it is there but declined.
  // A title keeps the blanks around it, which the libical reading puts back
  // from the line (item_parser.cpp); a title of blanks alone is left to it.
  bool textOf(const std::optional<Property>& line,
              std::optional<std::string>& text, bool keepBlanks) const {
    if (!line) return true;
    if (!line->params.empty() && !isLanguageParameter(line->params))
      return false;
    if (!keepBlanks) {
      text = unescapedText(line->value);
    } else if (line->value.find_first_not_of(' ') != std::string_view::npos) {
      text = unescapedTextKeepingBlanks(line->value);
    }
    return text.has_value();
  }

  std::optional<Reminder> reminder() const {
    for (const auto& todo : todos_) {
      // Only whether an occurrence is overridden matters, but libical keeps
      // the property only when its value reads as a time.
      if (todo.recurrenceId && !componentsOf(*todo.recurrenceId))
        return std::nullopt;
    }
    // Every VTODO read here is a child of the one calendar.
    const TodoLines& todo = *mainTodo(
        todos_, [](const TodoLines&) { return true; },
        [](const TodoLines& todo) { return todo.recurrenceId.has_value(); });

    Reminder reminder;
    if (!textOf(todo.summary, reminder.title, true) ||
        !textOf(todo.description, reminder.notes, false))
      return std::nullopt;
    if (todo.completed) {
      if (!componentsOf(*todo.completed)) return std::nullopt;
      reminder.isCompleted = true;
    }
    if (todo.status) {
      const auto& [name, params, value] = *todo.status;
      if (!params.empty()) return std::nullopt;
      if (value == "COMPLETED" || value == "CANCELLED")
        reminder.isCompleted = true;
      else if (value != "NEEDS-ACTION" && value != "IN-PROCESS")
        return std::nullopt;
    }
    // libical's reading drops the blanks that end a line; such values are
    // left to it, so that both readings see the same text.
    auto endsInBlank = [](std::string_view value) {
      return !value.empty() && value.back() == ' ';
    };
    if (todo.priority) {
      if (endsInBlank(todo.priority->value)) return std::nullopt;
      reminder.priority = numberFromText(todo.priority->value).value_or(0);
    }
    reminder.hasAlarms = todo.hasAlarm;
    for (const auto& line : todo.rules) {
      if (endsInBlank(line.value)) return std::nullopt;
      if (auto rule = ruleFromText(line.value))
        reminder.recurrenceRules.push_back(std::move(*rule));
    }
    if (!instantOf(todo.created, reminder.creationDate) ||
        !instantOf(todo.lastModified, reminder.lastModifiedDate))
      return std::nullopt;
    if (todo.due) {
      reminder.dueDateComponents = componentsOf(*todo.due);
      if (!reminder.dueDateComponents) return std::nullopt;
    }
    return reminder;
  }

  std::string_view text_;
  std::vector<Component>& stack_;
  std::vector<std::string_view>& names_;
  std::vector<TodoLines>& todos_;
  std::vector<ZoneBlock>& zones_;
  std::string& unfolded_;
  bool begun_ = false, ended_ = false;
};

}  // namespace

std::optional<Reminder> scanReminder(std::string_view calendarText) {
  thread_local Scratch scratch;
  std::optional<Reminder> reminder = Scanner(calendarText, scratch).scan();
  // Kept from item to item for small ones; a large item's line would stay
  // held for the rest of the run.
  constexpr std::size_t kKeptBytes = 1 << 20;
  if (scratch.unfolded.capacity() > kKeptBytes)
    std::string().swap(scratch.unfolded);
  return reminder;
}

}  // namespace corvane
