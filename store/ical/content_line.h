// The content lines of an iCalendar text as they stand in the file: where
// each begins and ends, how it ends, and its unfolded text. Edits that keep
// every byte they do not own work on these, not on a re-serialised tree;
// the readers take the same lines one at a time, without copying them.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One content line: a physical line and the folded lines that continue it.
struct ContentLine {
  std::size_t begin = 0;    // offset of its first byte
  std::size_t end = 0;      // offset just past its last line ending
  std::string_view ending;  // the last physical line's: CRLF, LF, CR or none
  std::string unfolded;     // its text without line endings and fold markers
};

// The same, its unfolded text a view (see ContentLineReader).
struct ContentLineView {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string_view ending;
  std::string_view unfolded;
};

// What a reader of content lines may take for granted about a text's
// carriage returns: either may end a line alone, or the caller has made
// sure that none stands anywhere but before a line feed.
enum class CarriageReturns { kMayEndLines, kOnlyBeforeLineFeeds };

// Reads the content lines of `text` one at a time, a physical line ending
// at CRLF or at a lone LF or CR, as libical reads them. A line that is not
// folded is a view into `text`; a folded one is unfolded into `buffer`,
// which the reader empties when it starts and never lets move, so that
// every view it gives stays valid until `buffer` is next given to a
// reader. Handing one buffer from text to text saves allocating anew.
class ContentLineReader {
 public:
  ContentLineReader(
      std::string_view text, std::string& buffer,
      CarriageReturns carriageReturns = CarriageReturns::kMayEndLines)
      : text_(text), buffer_(buffer), carriageReturns_(carriageReturns) {
    buffer_.clear();
    findLineFeed();
  }

  // The next content line; absent at the end of the text. Written here, as
  // the few calls it makes are, because every item read goes through it.
  std::optional<ContentLineView> next() {
    if (pos_ >= text_.size()) return std::nullopt;
    ContentLineView line;
    line.begin = pos_;
    line.unfolded = physicalLine(line.ending);
    if (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
      unfold(line);
    line.end = pos_;
    return line;
  }

  // How many physical lines so far ended in CRLF, LF and CR, in that order.
  const std::array<std::size_t, 3>& endingCounts() const { return counts_; }

 private:
  // The next LF is remembered, so that a text whose lines end in CR alone
  // is not searched to its end once for every line.
  void findLineFeed() {
    const void* found =
        pos_ < text_.size()
            ? std::memchr(text_.data() + pos_, '\n', text_.size() - pos_)
            : nullptr;
    nextLineFeed_ =
        found ? static_cast<const char*>(found) - text_.data() : text_.size();
  }

  // The physical line at pos_, without its ending; moves pos_ past both.
  std::string_view physicalLine(std::string_view& ending) {
    if (nextLineFeed_ < pos_) findLineFeed();
    const char* start = text_.data() + pos_;
    std::size_t length = nextLineFeed_ - pos_;
    const void* cr = nullptr;
    if (carriageReturns_ == CarriageReturns::kMayEndLines)
      cr = std::memchr(start, '\r', length);
    else if (length > 0 && start[length - 1] == '\r')
      cr = start + length - 1;
    if (cr) {
      length = static_cast<const char*>(cr) - start;
      bool crlf = pos_ + length + 1 < text_.size() && start[length + 1] == '\n';
      ending = crlf ? "\r\n" : "\r";
      ++counts_[crlf ? 0 : 2];
    } else if (nextLineFeed_ < text_.size()) {
      ending = "\n";
      ++counts_[1];
    } else {
      ending = {};
    }
    pos_ += length + ending.size();
    return {start, length};
  }

  // Adds the folded lines that continue `line` to it.
  void unfold(ContentLineView& line);

  std::string_view text_;
  std::string& buffer_;
  CarriageReturns carriageReturns_;
  std::size_t pos_ = 0;
  std::size_t nextLineFeed_ = 0;  // at or after pos_, or text_.size()
  std::array<std::size_t, 3> counts_{};
};

struct ContentLines {
  std::vector<ContentLine> lines;
  std::string_view dominantEnding;  // the most frequent; CRLF on a tie
};

// Splits `text` into content lines as ContentLineReader reads them. A
// leading byte order mark is left out of the first line's unfolded text.
// The views in the result point into static storage, not into `text`.
ContentLines splitContentLines(std::string_view text);

// An ASCII letter in upper case, any other byte as it is.
inline char upperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether `a` and `b` are equal, ASCII letters in any case.
inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  return true;
}

// Whether `name` starts at offset `at` of `text`, letters in any case, with
// folds (a line ending and a blank or tab) allowed between its letters, the
// way it reads once the lines are unfolded; `name` is of letters alone.
// Looks no further than `name` is long, so that it can be tried at every
// byte of a text (and is written here so that it can be, at no more cost
// than a loop of the caller's own).
inline bool startsWithUnfolded(std::string_view text, std::size_t at,
                               std::string_view name) {
  for (char wanted : name) {
    while (at < text.size() && (text[at] == '\r' || text[at] == '\n')) {
      std::size_t next = at + 1;
      if (text[at] == '\r' && next < text.size() && text[next] == '\n') ++next;
      if (next >= text.size() || (text[next] != ' ' && text[next] != '\t'))
        return false;
      at = next + 1;
    }
    // Past the loop above, only a letter's two cases are equal here.
    if (at >= text.size() || (text[at] | 0x20) != (wanted | 0x20)) return false;
    ++at;
  }
  return true;
}

struct Property {
  std::string_view name;
  std::string_view params;  // after the ';' that ends the name; empty for none
  std::string_view value;
};

// Splits an unfolded content line into name, parameters and value. The
// value starts after the first ':' that is not inside a quoted parameter
// value. Absent for lines that are not properties (blank lines, text
// without a ':').
std::optional<Property> parseProperty(std::string_view line);

// A BEGIN or END value as a component name: upper case, trailing blanks cut.
std::string componentName(std::string_view value);

// Whether the line's name is BEGIN or END, with or without a value.
bool isComponentBoundary(std::string_view line);

}  // namespace corvane
