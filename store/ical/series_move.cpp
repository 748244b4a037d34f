#include "store/ical/series_move.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <vector>

#include "store/due_date.h"
#include "store/ical/component_tree.h"
#include "store/ical/content_line.h"
#include "store/ical/item_parser.h"
#include "store/ical/line_splice.h"
#include "store/ical/recurrence_set.h"
#include "store/ical/utc_stamp.h"
#include "store/ical/value_scanner.h"
#include "store/system/unique_bytes.h"

namespace corvane {
namespace {

// How many upcoming occurrences of the old and the moved series must agree.
constexpr std::size_t kOccurrencesCompared = 24;

std::string_view nameOf(const ContentLine& line) {
  return parseProperty(line.unfolded)->name;
}

bool named(const ContentLine& line, std::string_view name) {
  return equalsIgnoringCase(nameOf(line), name);
}

// The line with its value replaced, name and parameters kept.
std::string withValue(const ContentLine& line, std::string_view value,
                      const ContentLines& split) {
  std::string_view old = parseProperty(line.unfolded)->value;
  std::string text = line.unfolded.substr(0, old.data() - line.unfolded.data());
  return text.append(value).append(endingFor(line, split));
}

// The RRULE value with its COUNT part set to `count`.
std::string withCount(std::string_view rule, int count) {
  std::string result;
  std::size_t pos = 0;
  while (pos <= rule.size()) {
    std::size_t end = std::min(rule.find(';', pos), rule.size());
    std::string_view part = rule.substr(pos, end - pos);
    if (!result.empty()) result.push_back(';');
    if (part.size() > 6 && equalsIgnoringCase(part.substr(0, 6), "COUNT="))
      result.append("COUNT=").append(std::to_string(count));
    else
      result.append(part);
    pos = end + 1;
  }
  return result;
}

// The TZIDs that a line's parameters name.
void collectTzids(std::string_view line, std::set<std::string>& tzids) {
  std::optional<Property> property = parseProperty(line);
  if (!property) return;
  std::string_view head = line.substr(
      0, static_cast<std::size_t>(property->value.data() - line.data()));
  std::size_t pos = 0;
  while ((pos = head.find(';', pos)) != std::string_view::npos) {
    ++pos;
    if (head.size() - pos < 5 ||
        !equalsIgnoringCase(head.substr(pos, 5), "TZID="))
      continue;
    std::size_t start = pos + 5;
    std::size_t end;
    if (start < head.size() && head[start] == '"') {
      ++start;
      end = head.find('"', start);
    } else {
      end = head.find_first_of(";:", start);
    }
    if (end == std::string_view::npos) end = head.size();
    tzids.emplace(head.substr(start, end - start));
  }
}

// KDE's calendar library keeps, in a repeating reminder, the occurrence it
// is at (its start, else its due) as this property, and KDE shows the
// reminder as due there: so the pointer moves with the series.
constexpr std::string_view kKdePointer = "X-KDE-LIBKCAL-DTRECURRENCE";

// A date or date-time on the clock, as if it were UTC: enough to tell how
// far one wall-clock time is from another.
std::optional<Instant> onTheClock(const ScannedTime& time) {
  DueDateComponents components = time.components;
  components.timeZone = utcTimeZone();
  return resolveComponents(components);
}

// KDE's pointer moved as the series' start (else due) moved from `from`
// to `to`, in the pointer's own form: always a date-time, midnight for a
// day, and in the pointer's own zone. Absent when a value is not one that
// can be read plainly, which leaves the pointer as it was.
std::optional<std::string> movedPointer(const Property& pointer,
                                        const Property& from,
                                        std::string_view to) {
  auto at = scanTimeProperty(pointer.params, pointer.value);
  auto was = scanTimeProperty(from.params, from.value);
  auto now = scanTimeProperty(from.params, to);
  if (!at || !was || !now || !at->components.hour) return std::nullopt;
  std::optional<Instant> atClock = onTheClock(*at), wasClock = onTheClock(*was),
                         nowClock = onTheClock(*now);
  if (!atClock || !wasClock || !nowClock) return std::nullopt;
  // The same text as a UTC stamp, without its "Z" where the pointer has none.
  auto written = [&](Instant t) {
    std::string text = utcStamp(t);
    if (!at->utc) text.pop_back();
    return text;
  };
  if (!now->components.hour) return written(*nowClock);
  if (at->tzid == now->tzid && at->utc == now->utc) return std::string(to);
  // Another zone than the series': the pointer moves by as much.
  return written(*atClock + (*nowClock - *wasClock));
}

// Properties of the series that the completed occurrence does not carry:
// its identity and stamps (set anew), its completion (set), and its
// recurrence (an occurrence does not repeat).
constexpr std::array<std::string_view, 13> kNotCarried = {
    "UID",       "DTSTAMP",          "CREATED",  "LAST-MODIFIED", "STATUS",
    "COMPLETED", "PERCENT-COMPLETE", "RRULE",    "RDATE",         "EXDATE",
    "EXRULE",    "RECURRENCE-ID",    kKdePointer};

std::string occurrenceText(std::string_view text, const ContentLines& split,
                           const ComponentTree& tree,
                           const TextComponent& series, const std::string& uid,
                           const std::string& stamp) {
  const auto& lines = split.lines;
  const std::string eol(split.dominantEnding);
  std::set<std::size_t> own(series.properties.begin(), series.properties.end());
  auto carried = [&](std::size_t i) {
    if (!own.contains(i) || !parseProperty(lines[i].unfolded)) return true;
    for (std::string_view name : kNotCarried)
      if (named(lines[i], name)) return false;
    return true;
  };
  std::set<std::string> tzids;
  for (std::size_t i = series.beginLine + 1; i < *series.endLine; ++i)
    if (carried(i)) collectTzids(lines[i].unfolded, tzids);

  // Written in one string, made as large as the item at once: a large
  // item's occurrence is then held once, not again while it grows.
  std::string result;
  result.reserve(text.size() + 512);
  auto append = [&](std::size_t i) {
    result.append(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (lines[i].ending.empty()) result.append(eol);
  };
  result.append("BEGIN:VCALENDAR" + eol + "VERSION:2.0" + eol +
                "PRODID:-//corvane//corvane//EN" + eol);
  std::set<std::string> written;
  for (std::size_t top : tree.topLevel) {
    for (std::size_t child : tree.childrenOf(top)) {
      const TextComponent& c = tree.components[child];
      if (c.name != "VTIMEZONE") continue;
      for (std::size_t i : c.properties) {
        if (!named(lines[i], "TZID")) continue;
        std::string tzid(parseProperty(lines[i].unfolded)->value);
        if (!tzids.contains(tzid) || written.contains(tzid)) continue;
        written.insert(tzid);
        for (std::size_t k = c.beginLine; k <= *c.endLine; ++k) append(k);
      }
    }
  }
  append(series.beginLine);
  for (const auto& [name, value] :
       std::initializer_list<std::pair<std::string_view, std::string>>{
           {"UID", uid},
           {"DTSTAMP", stamp},
           {"CREATED", stamp},
           {"LAST-MODIFIED", stamp},
           {"STATUS", "COMPLETED"},
           {"COMPLETED", stamp},
           {"PERCENT-COMPLETE", "100"}}) {
    result.append(name).append(":").append(value).append(eol);
  }
  for (std::size_t i = series.beginLine + 1; i < *series.endLine; ++i)
    if (carried(i)) append(i);
  append(*series.endLine);
  return result.append("END:VCALENDAR").append(eol);
}

Result<std::string> movedSeriesText(std::string_view text,
                                    const ContentLines& split,
                                    const TextComponent& series,
                                    const SeriesStep& step,
                                    const std::string& stamp) {
  const auto& lines = split.lines;
  std::vector<std::optional<std::string>> replacement(lines.size());
  bool startDone = false, dueDone = false, modifiedDone = false,
       stampDone = false;
  std::size_t rule = 0;
  std::optional<std::size_t> startLine, dueLine;
  std::vector<std::size_t> pointers;
  for (std::size_t i : series.properties) {
    const ContentLine& line = lines[i];
    if (named(line, "DTSTART") && step.start && !startDone) {
      replacement[i] = withValue(line, *step.start, split);
      startDone = true;
      startLine = i;
    } else if (named(line, "DUE") && step.due && !dueDone) {
      replacement[i] = withValue(line, *step.due, split);
      dueDone = true;
      dueLine = i;
    } else if (named(line, kKdePointer)) {
      pointers.push_back(i);
    } else if (named(line, "RRULE")) {
      if (rule < step.counts.size() && step.counts[rule]) {
        std::string value =
            withCount(parseProperty(line.unfolded)->value, *step.counts[rule]);
        replacement[i] = withValue(line, value, split);
      }
      ++rule;
    } else if (named(line, "LAST-MODIFIED") || named(line, "DTSTAMP")) {
      // One of each: readers would disagree on which counts.
      bool& done = named(line, "DTSTAMP") ? stampDone : modifiedDone;
      replacement[i] = done ? std::string()
                            : std::string(nameOf(line)) + ":" + stamp +
                                  std::string(endingFor(line, split));
      done = true;
    }
  }
  if (rule != step.counts.size()) {
    return Failure{
        "The reminder's file is damaged: corvane cannot tell which of its "
        "repeat rules to change."};
  }
  if (std::optional<std::size_t> reference = startLine ? startLine : dueLine) {
    Property from = *parseProperty(lines[*reference].unfolded);
    const std::string& to = startLine ? *step.start : *step.due;
    for (std::size_t i : pointers) {
      Property pointer = *parseProperty(lines[i].unfolded);
      if (auto value = movedPointer(pointer, from, to))
        replacement[i] = withValue(lines[i], *value, split);
    }
  }
  std::string added;
  const std::string eol(split.dominantEnding);
  if (!modifiedDone) added.append("LAST-MODIFIED:" + stamp + eol);
  if (!stampDone) added.append("DTSTAMP:" + stamp + eol);
  std::size_t anchor =
      series.properties.empty() ? series.beginLine : series.properties.back();
  return spliceLines(text, split, replacement, anchor, added);
}

bool mentionsRdate(std::string_view text) {
  for (std::size_t at = text.find_first_of("Rr"); at != std::string_view::npos;
       at = text.find_first_of("Rr", at + 1)) {
    if (equalsIgnoringCase(text.substr(at, 5), "RDATE")) return true;
  }
  return false;
}

// Whether `text` reads as a reminder, completed as `completed` says. Only
// the answer is kept: the reminder read holds the item's notes.
bool readsAs(std::string_view text, bool completed) {
  std::optional<Reminder> reminder = parseReminder(text);
  return reminder && reminder->isCompleted == completed;
}

// The moved series and the completed occurrence as text. The lines and the
// tree go when they are made: a large item is held as few times as can be.
Result<SeriesMove> movedTexts(std::string_view calendarText,
                              const std::string& uid, const SeriesStep& step,
                              Instant now) {
  ContentLines split = splitContentLines(calendarText);
  std::optional<ComponentTree> tree = readComponentTree(split.lines);
  bool closed =
      tree && std::ranges::all_of(tree->components, [](const TextComponent& c) {
        return c.endLine.has_value();
      });
  if (!closed) {
    return Failure{
        "The reminder's file is damaged: its BEGIN and END lines do not "
        "match."};
  }
  // The series is the reminder that the readers show; an overridden
  // occurrence chosen here means this reading and libical's disagree.
  std::optional<std::size_t> chosen = tree->reminder();
  if (!chosen || tree->components[*chosen].hasRecurrenceId) {
    return Failure{
        "The reminder's file is damaged: corvane cannot tell which of its "
        "entries to change."};
  }
  const TextComponent* series = &tree->components[*chosen];
  const std::string stamp = utcStamp(now);
  Result<std::string> moved =
      movedSeriesText(calendarText, split, *series, step, stamp);
  if (!moved) return Failure{moved.reason()};
  return SeriesMove{
      std::move(moved.value()),
      occurrenceText(calendarText, split, *tree, *series, uid, stamp)};
}

}  // namespace

Result<std::optional<SeriesMove>> completeOccurrence(
    std::string_view calendarText, const std::string& uid, Instant now) {
  using None = std::optional<SeriesMove>;
  {
    std::optional<Reminder> reminder = parseReminder(calendarText);
    if (!reminder || reminder->isCompleted) return None();
    // Most reminders do not repeat; they need no second reading.
    if (!reminder->hasRecurrenceRules() && !mentionsRdate(calendarText))
      return None();
  }
  std::optional<SeriesStep> step = stepToNextOccurrence(calendarText);
  if (!step) return None();
  Result<SeriesMove> made = movedTexts(calendarText, uid, *step, now);
  if (!made) return made.failure();
  SeriesMove move = std::move(made.value());

  // The edit works line by line and libical by its own rules, and a rule
  // restarted at a later occurrence does not always make the same dates
  // (an extra date between two of the rule's): so the moved series must
  // go on exactly as the old one would have.
  auto before = upcomingOccurrences(calendarText, kOccurrencesCompared + 1);
  auto after = upcomingOccurrences(move.series, kOccurrencesCompared);
  bool sameSet = before && after && before->size() == after->size() + 1 &&
                 std::equal(after->begin(), after->end(), before->begin() + 1);
  if (!sameSet || !readsAs(move.series, false) ||
      !readsAs(move.occurrence, true)) {
    return Failure{
        "corvane cannot move this repeating reminder to its next occurrence "
        "without changing when it repeats; nothing was written."};
  }
  return None(std::move(move));
}

std::string newUid() {
  std::array<unsigned char, 16> bytes{};
  fillUniqueBytes(bytes);
  bytes[6] = (bytes[6] & 0x0F) | 0x40;  // version 4
  bytes[8] = (bytes[8] & 0x3F) | 0x80;  // RFC 4122 variant
  char text[37];
  std::snprintf(
      text, sizeof text,
      "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
      bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6],
      bytes[7], bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13],
      bytes[14], bytes[15]);
  return text;
}

}  // namespace corvane
