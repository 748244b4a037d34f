// The locale the user wants dates and month names in, as an ICU locale
// identifier. Read from the environment the way the C library reads the
// time category, so corvane agrees with the user's other tools.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// ICU's name for the C library's own locale.
inline constexpr char kPosixLocaleId[] = "en_US_POSIX";

// The ICU identifier for a POSIX locale name such as "de_DE.UTF-8": the
// codeset is dropped; a modifier naming a script gives ICU's script
// ("sr_RS@latin" is "sr_Latn_RS"), any other gives a variant
// ("ca_ES@valencia" is "ca_ES_VALENCIA"); "", "C" and "POSIX" (with or
// without a codeset) are kPosixLocaleId.
std::string icuLocaleIdFromPosix(std::string_view posixName);

// The user's locale: the first of LC_ALL, LC_TIME and LANG that is set and
// not empty, converted by icuLocaleIdFromPosix. kPosixLocaleId when none is
// set, or when ICU has no data for the named language (as the C library
// falls back to its own locale for a locale it does not know).
std::string userLocaleId();

}  // namespace corvane
