#include "store/ical/content_line.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace corvane {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kLf = "\n";
constexpr std::string_view kCr = "\r";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The length of the text before the first ':' or ';' of `line`. Every line
// of every item read passes here, so eight bytes are looked at at once.
std::size_t nameLength(std::string_view line) {
  // ':' and ';' differ in their lowest bit alone.
  auto isNameEnd = [](char c) { return (c | 1) == ';'; };
  std::size_t at = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL,
                            kHigh = 0x8080808080808080ULL;
    for (; at + 8 <= line.size(); at += 8) {
      std::uint64_t word;
      std::memcpy(&word, line.data() + at, 8);
      // A byte of `other` is zero where `word` has a ':' or ';'; the lowest
      // byte marked in `ends` is the first such.
      std::uint64_t other = (word | kOnes) ^ (';' * kOnes);
      std::uint64_t ends = (other - kOnes) & ~other & kHigh;
      if (ends) return at + std::countr_zero(ends) / 8;
    }
  }
  while (at < line.size() && !isNameEnd(line[at])) ++at;
  return at;
}

}  // namespace

void ContentLineReader::unfold(ContentLineView& line) {
  // Unfolded text is never longer than the text, so a buffer of that size
  // never moves what the views given before point to.
  buffer_.reserve(text_.size());
  std::size_t start = buffer_.size();
  buffer_.append(line.unfolded);
  while (pos_ < text_.size() && isBlank(text_[pos_])) {
    ++pos_;
    buffer_.append(physicalLine(line.ending));
  }
  line.unfolded = std::string_view(buffer_).substr(start);
}

ContentLines splitContentLines(std::string_view text) {
  std::vector<ContentLine> lines;
  std::string buffer;
  ContentLineReader reader(text, buffer);
  while (std::optional<ContentLineView> line = reader.next()) {
    lines.push_back(ContentLine{line->begin, line->end, line->ending,
                                std::string(line->unfolded)});
  }
  if (!lines.empty() && lines.front().unfolded.starts_with(kByteOrderMark)) {
    lines.front().unfolded.erase(0, kByteOrderMark.size());
  }
  // Ties go to CRLF, the form the standard asks for.
  const auto& counts = reader.endingCounts();
  std::string_view dominant = kCrlf;
  if (counts[1] > counts[0]) dominant = kLf;
  if (counts[2] > std::max(counts[0], counts[1])) dominant = kCr;
  return {std::move(lines), dominant};
}

std::optional<Property> parseProperty(std::string_view line) {
  std::size_t nameEnd = nameLength(line);
  if (nameEnd == line.size() || nameEnd == 0) return std::nullopt;
  std::string_view name = line.substr(0, nameEnd);
  if (line[nameEnd] == ':') return Property{name, {}, line.substr(nameEnd + 1)};
  // Most parameters are not quoted; then the value starts after the next ':'.
  std::size_t colon = line.find(':', nameEnd);
  std::size_t quote = line.substr(0, colon).find('"', nameEnd);
  if (quote == std::string_view::npos) {
    if (colon == std::string_view::npos) return std::nullopt;
    return Property{name, line.substr(nameEnd + 1, colon - nameEnd - 1),
                    line.substr(colon + 1)};
  }
  bool quoted = false;
  for (std::size_t i = quote; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == ':' && !quoted) {
      return Property{name, line.substr(nameEnd + 1, i - nameEnd - 1),
                      line.substr(i + 1)};
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
