// The blanks around a reminder's title, which libical's reading of a file
// trims (it cuts blanks at both ends of every line's value) though the
// value keeps them; the quick reader keeps them too, so both agree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The reminder's title as its own SUMMARY line in `calendarText` gives it,
// blanks kept, when that is `trimmedTitle` (libical's reading of it) with
// blanks or tabs around it. Absent otherwise, and at once for the files
// where no SUMMARY value can begin or end with a blank.
std::optional<std::string> titleKeepingBlanks(std::string_view calendarText,
                                              std::string_view trimmedTitle);

}  // namespace corvane
