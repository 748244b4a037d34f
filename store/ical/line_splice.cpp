#include "store/ical/line_splice.h"

namespace corvane {

std::string_view endingFor(const ContentLine& line, const ContentLines& split) {
  return line.ending.empty() ? split.dominantEnding : line.ending;
}

std::string spliceLines(
    std::string_view text, const ContentLines& split,
    const std::vector<std::optional<std::string>>& replacement,
    std::size_t anchor, std::string_view added) {
  const std::vector<ContentLine>& lines = split.lines;
  std::string result;
  result.reserve(text.size() + added.size() + 128);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (replacement[i])
      result.append(*replacement[i]);
    else
      result.append(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (i == anchor) result.append(added);
  }
  return result;
}

}  // namespace corvane
