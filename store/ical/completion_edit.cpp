#include "store/ical/completion_edit.h"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "store/ical/component_tree.h"
#include "store/ical/content_line.h"
#include "store/ical/item_parser.h"
#include "store/ical/line_splice.h"
#include "store/ical/utc_stamp.h"

namespace corvane {
namespace {

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

bool sameDueDate(const std::optional<DueDateComponents>& a,
                 const std::optional<DueDateComponents>& b) {
  if (!a || !b) return !a && !b;
  return a->year == b->year && a->month == b->month && a->day == b->day &&
         a->hour == b->hour && a->minute == b->minute &&
         a->second == b->second && a->hasCalendar == b->hasCalendar &&
         !a->timeZone == !b->timeZone &&
         resolveComponents(*a) == resolveComponents(*b);
}

// Whether two readings are of one reminder: all its fields but completion
// and the modification stamp agree.
bool sameApartFromCompletion(const Reminder& a, const Reminder& b) {
  return a.title == b.title && a.notes == b.notes && a.priority == b.priority &&
         a.hasAlarms == b.hasAlarms && a.recurrenceRules == b.recurrenceRules &&
         a.creationDate == b.creationDate &&
         sameDueDate(a.dueDateComponents, b.dueDateComponents);
}

// The edit itself. The lines go when it is made: a large item is held as
// few times as can be while the result is read back.
Result<std::string> editedText(std::string_view calendarText, bool completed,
                               Instant now) {
  ContentLines split = splitContentLines(calendarText);
  const std::vector<ContentLine>& lines = split.lines;
  std::optional<ComponentTree> tree = readComponentTree(lines);
  if (!tree) {
    return Failure{
        "The reminder's file is damaged: its BEGIN and END lines do not "
        "match."};
  }
  std::optional<std::size_t> chosen = tree->reminder();
  if (!chosen) {
    return Failure{"The file holds no reminder to change."};
  }
  const TextComponent* todo = &tree->components[*chosen];
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
      std::string_view ending = endingFor(lines[index], split);
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

  return spliceLines(calendarText, split, replacement, anchor, added);
}

}  // namespace

Result<std::string> withCompletion(std::string_view calendarText,
                                   bool completed, Instant now) {
  Result<std::string> edited = editedText(calendarText, completed, now);
  if (!edited) return edited;
  std::string& result = edited.value();
  // The edit and the readers choose the VTODO by one rule, but each reads
  // lines its own way; on a damaged file they can still disagree (a
  // RECURRENCE-ID libical drops), and the change would be reported made
  // while another entry changed. So the new text must read back as the same
  // reminder, in the state asked for, carrying this change's stamp.
  std::optional<Reminder> before = parseReminder(calendarText);
  std::optional<Reminder> after = parseReminder(result);
  if (!before || !after || after->isCompleted != completed ||
      after->lastModifiedDate != now ||
      !sameApartFromCompletion(*before, *after)) {
    return Failure{
        "The reminder's file is damaged: corvane cannot tell which of its "
        "entries to change."};
  }
  return edited;
}

}  // namespace corvane
