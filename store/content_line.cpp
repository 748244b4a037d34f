#include "store/content_line.h"

#include <utility>

namespace corvane {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kLf = "\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

char upperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

ContentLines splitContentLines(std::string_view text) {
  std::vector<ContentLine> lines;
  std::size_t crlfCount = 0;
  std::size_t lfCount = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t newline = text.find('\n', pos);
    std::size_t next =
        newline == std::string_view::npos ? text.size() : newline + 1;
    std::string_view content = text.substr(pos, next - pos);
    std::string_view ending;
    if (content.ends_with(kCrlf)) {
      ending = kCrlf;
      ++crlfCount;
    } else if (content.ends_with(kLf)) {
      ending = kLf;
      ++lfCount;
    }
    content.remove_suffix(ending.size());
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
  return {std::move(lines), lfCount > crlfCount ? kLf : kCrlf};
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
