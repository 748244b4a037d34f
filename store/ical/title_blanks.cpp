#include "store/ical/title_blanks.h"

#include "store/ical/component_tree.h"
#include "store/ical/content_line.h"
#include "store/ical/value_scanner.h"
#include "store/utf8.h"

namespace corvane {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// Whether the content line at `at` starts with `name`, letters in any case,
// folds allowed between them.
bool startsWithFolded(std::string_view text, size_t at, std::string_view name) {
  for (char wanted : name) {
    while (at < text.size() && isLineEnd(text[at])) {
      size_t next = at + 1;
      if (text[at] == '\r' && next < text.size() && text[next] == '\n') ++next;
      if (next >= text.size() || !isBlank(text[next])) return false;
      at = next + 1;
    }
    if (at >= text.size() || (text[at] | 0x20) != (wanted | 0x20)) return false;
    ++at;
  }
  return true;
}

// Whether some SUMMARY line may have a value that begins or ends with a
// blank: one holds a colon followed by a blank or a line end, or a blank
// before a line end or the end of the text. This looks at each line's first
// letter, and at the SUMMARY lines alone, so that a file whose title has no
// blanks around it (nearly all) costs no more than that.
bool summaryMayHaveBlanks(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    size_t lineEnd = text.find_first_of("\r\n", at);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    if (startsWithFolded(text, at, "SUMMARY")) {
      // The whole content line: its physical lines and the folds after it.
      for (size_t i = at + 1; i <= text.size(); ++i) {
        char previous = text[i - 1];
        if (i == text.size()) return isBlank(previous);
        char c = text[i];
        if ((previous == ':' && (isBlank(c) || isLineEnd(c))) ||
            (isBlank(previous) && isLineEnd(c)))
          return true;
        if (!isLineEnd(c) || isLineEnd(previous)) continue;
        size_t next = i + 1;
        if (c == '\r' && next < text.size() && text[next] == '\n') ++next;
        if (next >= text.size() || !isBlank(text[next])) {
          lineEnd = i;
          break;
        }
      }
    }
    at = text.find_first_not_of("\r\n", lineEnd);
    if (at == std::string_view::npos) break;
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
