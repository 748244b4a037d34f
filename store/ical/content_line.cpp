#include "store/ical/content_line.h"

#include <algorithm>
#include <array>
#include <utility>

namespace corvane {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kLf = "\n";
constexpr std::string_view kCr = "\r";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

char upperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

ContentLines splitContentLines(std::string_view text) {
  std::vector<ContentLine> lines;
  // Counts of CRLF, LF and CR endings, in that order.
  std::array<std::size_t, 3> counts{};
  std::size_t pos = 0;
  while (pos < text.size()) {
    // A line ends at CRLF, or at a lone LF or CR, as libical reads it.
    std::size_t stop = text.find_first_of("\r\n", pos);
    std::string_view ending;
    if (stop == std::string_view::npos) {
      stop = text.size();
    } else if (text.substr(stop).starts_with(kCrlf)) {
      ending = kCrlf;
      ++counts[0];
    } else if (text[stop] == '\n') {
      ending = kLf;
      ++counts[1];
    } else {
      ending = kCr;
      ++counts[2];
    }
    std::size_t next = stop + ending.size();
    std::string_view content = text.substr(pos, stop - pos);
    bool continues = !lines.empty() && !content.empty() &&
                     (content.front() == ' ' || content.front() == '\t');
    if (continues) {
      ContentLine& line = lines.back();
      line.unfolded.append(content.substr(1));
      line.end = next;
      line.ending = ending;
    } else {
      lines.push_back(ContentLine{pos, next, ending, std::string(content)});
    }
    pos = next;
  }
  if (!lines.empty() && lines.front().unfolded.starts_with(kByteOrderMark)) {
    lines.front().unfolded.erase(0, kByteOrderMark.size());
  }
  // Ties go to CRLF, the form the standard asks for.
  std::string_view dominant = kCrlf;
  if (counts[1] > counts[0]) dominant = kLf;
  if (counts[2] > std::max(counts[0], counts[1])) dominant = kCr;
  return {std::move(lines), dominant};
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  }
  return true;
}

std::optional<Property> parseProperty(std::string_view line) {
  std::size_t nameEnd = line.find_first_of(";:");
  if (nameEnd == std::string_view::npos || nameEnd == 0) return std::nullopt;
  bool quoted = false;
  for (std::size_t i = nameEnd; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == ':' && !quoted) {
      return Property{line.substr(0, nameEnd), line.substr(i + 1)};
    }
  }
  return std::nullopt;
}

std::string componentName(std::string_view value) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
    value.remove_suffix(1);
  }
  std::string name;
  for (char c : value) name.push_back(upperAscii(c));
  return name;
}

bool isComponentBoundary(std::string_view line) {
  std::string_view name = line.substr(0, line.find_first_of(";:"));
  return equalsIgnoringCase(name, "BEGIN") || equalsIgnoringCase(name, "END");
}

}  // namespace corvane
