#include "store/completion_edit.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "store/content_line.h"
#include "store/item_parser.h"

namespace corvane {
namespace {

struct TodoBlock {
  std::size_t beginLine = 0;
  std::optional<std::size_t> endLine;
  std::vector<std::size_t> properties;  // its own lines, not its alarms'
  bool hasRecurrenceId = false;
};

// Finds every VTODO with its own property lines. Absent when BEGIN and END
// lines do not pair up.
std::optional<std::vector<TodoBlock>> findTodos(
    const std::vector<ContentLine>& lines) {
  struct Open {
    std::string name;
    std::optional<std::size_t> todo;  // index into the result for a VTODO
  };
  std::vector<TodoBlock> todos;
  std::vector<Open> open;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::optional<Property> property = parseProperty(lines[i].unfolded);
    if (!property) {
      // libical opens or closes a component on a BEGIN or END line even
      // without a value, so the reminder's extent would be unclear.
      if (isComponentBoundary(lines[i].unfolded)) return std::nullopt;
      continue;
    }
    if (equalsIgnoringCase(property->name, "BEGIN")) {
      Open component{componentName(property->value), std::nullopt};
      if (component.name == "VTODO") {
        component.todo = todos.size();
        todos.push_back(TodoBlock{i, std::nullopt, {}, false});
      }
      open.push_back(std::move(component));
    } else if (equalsIgnoringCase(property->name, "END")) {
      if (open.empty() || open.back().name != componentName(property->value)) {
        return std::nullopt;
      }
      if (open.back().todo) todos[*open.back().todo].endLine = i;
      open.pop_back();
    } else if (!open.empty() && open.back().todo) {
      TodoBlock& todo = todos[*open.back().todo];
      todo.properties.push_back(i);
      if (equalsIgnoringCase(property->name, "RECURRENCE-ID")) {
        todo.hasRecurrenceId = true;
      }
    }
  }
  return todos;
}

std::string utcStamp(Instant t) {
  using namespace std::chrono;
  sys_days day = floor<days>(t);
  year_month_day date{day};
  hh_mm_ss<seconds> time{t - day};
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d%02u%02uT%02d%02d%02dZ",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()));
  return text;
}

// The properties that carry completion, with the value each gets; absent
// values are removed.
struct CompletionProperty {
  std::string_view name;
  std::optional<std::string> value;
};

std::array<CompletionProperty, 5> completionProperties(bool completed,
                                                       Instant now) {
  std::string stamp = utcStamp(now);
  return {{
      {"STATUS", completed ? "COMPLETED" : "NEEDS-ACTION"},
      {"COMPLETED", completed ? std::optional(stamp) : std::nullopt},
      {"PERCENT-COMPLETE",
       completed ? std::optional<std::string>("100") : std::nullopt},
      {"LAST-MODIFIED", stamp},
      {"DTSTAMP", stamp},
  }};
}

std::string propertyLine(const CompletionProperty& property,
                         std::string_view ending) {
  std::string line(property.name);
  line.push_back(':');
  line.append(*property.value);
  line.append(ending);
  return line;
}

}  // namespace

Result<std::string> withCompletion(std::string_view calendarText,
                                   bool completed, Instant now) {
  ContentLines split = splitContentLines(calendarText);
  const std::vector<ContentLine>& lines = split.lines;
  std::optional<std::vector<TodoBlock>> todos = findTodos(lines);
  if (!todos) {
    return Failure{
        "The reminder's file is damaged: its BEGIN and END lines do not "
        "match."};
  }
  const TodoBlock* todo = nullptr;
  for (const TodoBlock& candidate : *todos) {
    if (!candidate.hasRecurrenceId) {
      todo = &candidate;
      break;
    }
  }
  if (todo == nullptr) {
    return Failure{"The file holds no reminder to change."};
  }
  if (!todo->endLine) {
    return Failure{"The reminder's file is cut short: its VTODO never ends."};
  }

  // What happens to each line: kept (nullopt) or replaced by a text, which
  // is empty for a removed line.
  std::vector<std::optional<std::string>> replacement(lines.size());
  std::array<CompletionProperty, 5> wanted =
      completionProperties(completed, now);
  std::array<bool, 5> placed{};
  for (std::size_t index : todo->properties) {
    std::string_view name = parseProperty(lines[index].unfolded)->name;
    for (std::size_t k = 0; k < wanted.size(); ++k) {
      if (!equalsIgnoringCase(name, wanted[k].name)) continue;
      std::string_view ending = lines[index].ending.empty()
                                    ? split.dominantEnding
                                    : lines[index].ending;
      // A repeated property is dropped: readers would disagree on which
      // one counts.
      bool keepHere = wanted[k].value && !placed[k];
      replacement[index] = keepHere ? propertyLine(wanted[k], ending) : "";
      placed[k] = placed[k] || keepHere;
    }
  }
  std::string added;
  for (std::size_t k = 0; k < wanted.size(); ++k) {
    if (wanted[k].value && !placed[k]) {
      added.append(propertyLine(wanted[k], split.dominantEnding));
    }
  }
  std::size_t anchor =
      todo->properties.empty() ? todo->beginLine : todo->properties.back();

  std::string result;
  result.reserve(calendarText.size() + added.size() + 128);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (replacement[i]) {
      result.append(*replacement[i]);
    } else {
      result.append(
          calendarText.substr(lines[i].begin, lines[i].end - lines[i].begin));
    }
    if (i == anchor) result.append(added);
  }
  // The edit finds the reminder line by line, libical by its own rules; on
  // a damaged file the two can disagree (a RECURRENCE-ID libical rejects),
  // and the change would be reported made while the reminder stays as it
  // was. So the new text must read back as the state asked for.
  std::optional<Reminder> readBack = parseReminder(result);
  if (!readBack || readBack->isCompleted != completed) {
    return Failure{
        "The reminder's file is damaged: corvane cannot tell which of its "
        "entries to change."};
  }
  return result;
}

}  // namespace corvane
