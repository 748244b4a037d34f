#include "store/ical/title_blanks.h"

#include "store/ical/component_tree.h"
#include "store/ical/content_line.h"
#include "store/ical/value_scanner.h"
#include "store/utf8.h"

namespace corvane {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Whether some SUMMARY line may have a value that begins or ends with a
// blank: one holds a colon followed by a blank, or ends in a blank or a
// colon. A file whose title has no blanks around it (nearly all) costs no
// more than reading its lines.
bool summaryMayHaveBlanks(std::string_view text) {
  std::string unfolded;
  ContentLineReader reader(text, unfolded);
  while (std::optional<ContentLineView> line = reader.next()) {
    std::string_view content = line->unfolded;
    if (!equalsIgnoringCase(content.substr(0, 7), "SUMMARY")) continue;
    if (isBlank(content.back()) || content.back() == ':') return true;
    // No colon here ends the line: each has a byte after it.
    for (size_t colon = content.find(':'); colon != std::string_view::npos;
         colon = content.find(':', colon + 1))
      if (isBlank(content[colon + 1])) return true;
  }
  return false;
}

std::string_view withoutBlanksAround(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::string> titleKeepingBlanks(std::string_view calendarText,
                                              std::string_view trimmedTitle) {
  // libical reads no further than a NUL.
  calendarText = calendarText.substr(0, calendarText.find('\0'));
  if (!summaryMayHaveBlanks(calendarText)) return std::nullopt;
  ContentLines lines = splitContentLines(calendarText);
  std::optional<ComponentTree> tree = readComponentTree(lines.lines);
  if (!tree) return std::nullopt;
  std::optional<std::size_t> todo = tree->reminder();
  if (!todo) return std::nullopt;
  for (std::size_t index : tree->components[*todo].properties) {
    std::optional<Property> property =
        parseProperty(lines.lines[index].unfolded);
    if (!property || !equalsIgnoringCase(property->name, "SUMMARY")) continue;
    // The first SUMMARY is the one libical's reading takes.
    std::optional<std::string> value =
        unescapedTextKeepingBlanks(property->value);
    if (!value) return std::nullopt;
    std::string title = repairUtf8(*value);
    if (title.size() == trimmedTitle.size() ||
        withoutBlanksAround(title) != trimmedTitle)
      return std::nullopt;
    return title;
  }
  return std::nullopt;
}

}  // namespace corvane
