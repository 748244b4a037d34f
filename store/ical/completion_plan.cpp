#include "store/ical/completion_plan.h"

#include <cstdio>

#include "store/ical/completion_edit.h"
#include "store/ical/component_tree.h"
#include "store/ical/content_line.h"
#include "store/ical/item_parser.h"
#include "store/ical/series_move.h"

namespace corvane {
namespace {

// The values of the reminder's own UID, DTSTART and DUE lines.
struct Identity {
  std::string uid, start, due;
  bool operator==(const Identity&) const = default;
};

std::optional<Identity> identityOf(std::string_view text) {
  ContentLines split = splitContentLines(text);
  std::optional<ComponentTree> tree = readComponentTree(split.lines);
  if (!tree) return std::nullopt;
  std::optional<std::size_t> chosen = tree->reminder();
  if (!chosen) return std::nullopt;
  Identity identity;
  for (std::size_t i : tree->components[*chosen].properties) {
    std::optional<Property> property = parseProperty(split.lines[i].unfolded);
    if (!property) continue;
    for (auto [name, value] : {std::pair{"UID", &identity.uid},
                               std::pair{"DTSTART", &identity.start},
                               std::pair{"DUE", &identity.due}})
      if (equalsIgnoringCase(property->name, name) && value->empty())
        value->assign(property->value);
  }
  return identity;
}

bool isNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '@' || c == '.';
}

// "<series UID>-<occurrence date>" with every byte that a file name or a
// UID could not carry plainly written as %XX, and never a leading dot. A
// very long UID is cut and the whole of it kept as a hash, so the name
// stays within what a file system allows.
std::string occurrenceName(const Identity& series) {
  const std::string whole =
      series.uid + "-" + (series.start.empty() ? series.due : series.start);
  std::string name;
  for (unsigned char c : whole) {
    if (isNameByte(c) && !(name.empty() && c == '.')) {
      name.push_back(static_cast<char>(c));
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      name.append(escaped);
    }
  }
  constexpr std::size_t kLongest = 200;
  if (name.size() > kLongest) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : whole) hash = (hash ^ c) * 1099511628211ull;
    char tail[18];
    std::snprintf(tail, sizeof tail, "-%016llx",
                  static_cast<unsigned long long>(hash));
    name.resize(kLongest);
    name.append(tail);
  }
  return name;
}

}  // namespace

Result<CompletionPlan> planCompletion(std::string_view calendarText,
                                      bool completed, Instant now) {
  if (completed) {
    // A series without a UID (none that a calendar program writes) gets a
    // new name each time: nothing to recognise a retry by.
    std::optional<Identity> series = identityOf(calendarText);
    if (series) {
      std::string name =
          series->uid.empty() ? newUid() : occurrenceName(*series);
      auto move = completeOccurrence(calendarText, name, now);
      if (!move) return move.failure();
      if (move.value())
        return CompletionPlan{
            std::move(move.value()->series),
            CompletionPlan::Occurrence{std::move(name),
                                       std::move(move.value()->occurrence)}};
    }
  }
  auto edited = withCompletion(calendarText, completed, now);
  if (!edited) return edited.failure();
  return CompletionPlan{std::move(edited.value()), std::nullopt};
}

bool isPlannedOccurrence(std::string_view found,
                         const CompletionPlan::Occurrence& occurrence) {
  std::optional<Identity> have = identityOf(found);
  std::optional<Identity> want = identityOf(occurrence.text);
  std::optional<Reminder> reminder = parseReminder(found);
  return have && want && *have == *want && reminder && reminder->isCompleted;
}

}  // namespace corvane
