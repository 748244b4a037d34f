// Strict readers for the property values that the quick item reader
// understands. Each accepts only the plain forms that programs write and
// on which libical's reading is known; anything else is absent (declined),
// never guessed at.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/due_date.h"
#include "store/recurrence_rule.h"

namespace corvane {

// A decimal number from `low` to `high` without sign or leading zeros.
std::optional<int> scanCount(std::string_view text, int low, int high);

// A TEXT value with the escapes \n \N \, \; and \\ undone. Declined when it
// is empty, starts or ends with white space (which libical would trim) or
// holds another escape.
std::optional<std::string> unescapedText(std::string_view value);

// A zone name as programs write it in TZID: letters, digits and "/_+-.".
bool isPlainZoneName(std::string_view name);

// "LANGUAGE=<tag>", the one parameter of a text that is understood.
bool isLanguageParameter(std::string_view params);

// A DATE or DATE-TIME property: its parameters (VALUE, TZID) and value.
struct ScannedTime {
  DueDateComponents components;  // without a zone
  bool utc = false;              // the value ends in "Z"
  std::string_view tzid;         // the TZID parameter, empty for none
};
std::optional<ScannedTime> scanTimeProperty(std::string_view params,
                                            std::string_view value);

// An RRULE value made of FREQ, INTERVAL, COUNT, UNTIL, BYDAY, BYMONTHDAY,
// BYMONTH and WKST parts, each at most once.
std::optional<RecurrenceRule> scanRule(std::string_view value);

}  // namespace corvane
