#include "store/ical/nesting.h"

#include <algorithm>

namespace corvane {
namespace {

// Calendar programs nest a calendar, an item, its alarms and a time zone's
// rules: a handful of levels. Far below this, a parser that recurses over
// the tree cannot run out of stack.
constexpr std::size_t kDeepestNesting = 64;

// The offset just after the letters of `name` at `at` in `text`, in any
// case and with folds between them, as a parser reads it once the lines
// are unfolded; npos when `name` is not there.
std::size_t afterUnfolded(std::string_view text, std::size_t at,
                          std::string_view name) {
  auto skipFolds = [&text](std::size_t at) {
    while (at + 1 < text.size() && (text[at] == '\r' || text[at] == '\n')) {
      std::size_t next = at + 1;
      if (text[at] == '\r' && text[next] == '\n') ++next;
      if (next >= text.size() || (text[next] != ' ' && text[next] != '\t'))
        return at;
      at = next + 1;
    }
    return at;
  };
  for (char wanted : name) {
    at = skipFolds(at);
    if (at >= text.size() || (text[at] | 0x20) != (wanted | 0x20))
      return std::string_view::npos;
    ++at;
  }
  at = skipFolds(at);
  return at < text.size() && (text[at] == ':' || text[at] == ';')
             ? at
             : std::string_view::npos;
}

}  // namespace

// Whether the BEGIN and END lines of `text` nest deeper than
// kDeepestNesting. Lines are split as the parser splits them: at line
// feeds, and past the last one at carriage returns. One look at the first
// byte of each line, so it costs little beside the read itself.
bool nestsTooDeep(std::string_view text) {
  // Each level is a line of its own: a text of few lines cannot nest deep,
  // and counting its lines (split as below) is far cheaper than reading
  // them.
  std::size_t lines = 1 + std::count(text.begin(), text.end(), '\n');
  std::size_t lastFeed = text.rfind('\n');
  lines += std::count(text.begin() + (lastFeed == text.npos ? 0 : lastFeed + 1),
                      text.end(), '\r');
  if (lines <= kDeepestNesting) return false;
  std::size_t depth = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    char first = static_cast<char>(text[at] | 0x20);
    if (first == 'b' && afterUnfolded(text, at, "BEGIN") != text.npos) {
      if (++depth > kDeepestNesting) return true;
    } else if (first == 'e' && depth > 0 &&
               afterUnfolded(text, at, "END") != text.npos) {
      --depth;
    }
    std::size_t end = text.find('\n', at);
    if (end == text.npos) end = text.find('\r', at);
    if (end == text.npos) break;
    at = end + 1;
  }
  return false;
}

}  // namespace corvane
