// The content lines of an iCalendar text as they stand in the file: where
// each begins and ends, how it ends, and its unfolded text. Edits that keep
// every byte they do not own work on these, not on a re-serialised tree.
#pragma once

#include <cstddef>
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

struct ContentLines {
  std::vector<ContentLine> lines;
  std::string_view dominantEnding;  // the most frequent; CRLF on a tie
};

// Splits `text` into content lines, a physical line ending at CRLF or at a
// lone LF or CR, as libical reads them. A leading byte order mark is left
// out of the first line's unfolded text. The views in the result point into
// static storage, not into `text`.
ContentLines splitContentLines(std::string_view text);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

struct Property {
  std::string_view name;
  std::string_view value;
};

// Splits an unfolded content line into name and value. The value starts
// after the first ':' that is not inside a quoted parameter value. Absent
// for lines that are not properties (blank lines, text without a ':').
std::optional<Property> parseProperty(std::string_view line);

// A BEGIN or END value as a component name: upper case, trailing blanks cut.
std::string componentName(std::string_view value);

// Whether the line's name is BEGIN or END, with or without a value.
bool isComponentBoundary(std::string_view line);

}  // namespace corvane
