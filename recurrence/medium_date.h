// An instant as the calendar date the user reads on their clock, in the
// user's locale's medium date style ("Jan 5, 2026" in US English).
#pragma once

#include <string>

#include "store/instant.h"

namespace corvane {

// The date of `instant` in the system time zone as the C library sees it
// (TZ, else /etc/localtime), written in the medium date style of the
// user's locale (userLocaleId), UTF-8. Safe to call from any thread.
std::string mediumDate(Instant instant);

// The same for the locale with that ICU identifier.
std::string mediumDateInLocale(Instant instant, const std::string& localeId);

}  // namespace corvane
