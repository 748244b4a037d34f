// Strict readers for the property values that the quick item reader
// understands. Each accepts only the plain forms that programs write and
// on which libical's reading is known; anything else is absent (declined),
// never guessed at.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/due_date.h"
#include "store/recurrence_rule.h"

namespace corvane {

// A TEXT value with the escapes \n \N \, \; and \\ undone. Declined when it
// is empty, starts or ends with white space (which libical would trim) or
// holds another escape.
std::optional<std::string> unescapedText(std::string_view value);

// The same, blanks at either end kept as part of the text.
std::optional<std::string> unescapedTextKeepingBlanks(std::string_view value);

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

// A decimal whole number, with an optional sign, that fits in 64 bits;
// absent for anything else, so that no number is ever shown wrapped.
std::optional<std::int64_t> numberFromText(std::string_view text);

// An RRULE value read part by part, its values as they come (an INTERVAL
// of 0, a COUNT of 0, a day 0, a rule ending both by date and by count):
// unlike libical, which drops such rules, corvane shows them. A number
// that is not one is left out (INTERVAL then counts as 1). Absent when the
// value has no FREQ of the seven frequency words. Both item readers read
// rules here, so they cannot differ.
std::optional<RecurrenceRule> ruleFromText(std::string_view value);

}  // namespace corvane
