// The one guard before libical: libical builds and frees a calendar's
// components by recursion, so a text nested deep enough (300,000 alarms in
// alarms, a few megabytes) overflows the stack of whatever reads it. Every
// libical parse of item text asks this first; such a text is no item.
#pragma once

#include <string_view>

namespace corvane {

// Whether the BEGIN and END lines of `text` nest deeper than any calendar
// program nests them (64 levels), as libical would split and unfold them.
bool nestsTooDeep(std::string_view text);

}  // namespace corvane
