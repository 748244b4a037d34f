// Full month names in the user's locale, for describing yearly repetition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

// The full name of month 1 (January) to 12 (December) of the Gregorian
// calendar in the user's locale (userLocaleId). A number outside 1 to 12
// has no name and is given back as decimal text. Safe to call from any
// thread; the names are looked up once per locale, not per call.
std::string toMonthName(std::int64_t month);

// The twelve full month names of the Gregorian calendar in the locale with
// that ICU identifier, January first; empty if ICU cannot give them.
std::vector<std::string> monthNamesForLocale(const std::string& localeId);

}  // namespace corvane
