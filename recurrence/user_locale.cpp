#include "recurrence/user_locale.h"

#include <unicode/locid.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace corvane {

namespace {

bool searchIcuLanguages(const std::string& localeId) {
  icu::Locale locale(localeId.c_str());
  if (locale.isBogus()) return false;
  // Every ICU has English, the C locale's language; going through the
  // list of locales costs more than a whole small query.
  if (std::strcmp(locale.getLanguage(), "en") == 0) return true;
  int32_t count = 0;
  const icu::Locale* available = icu::Locale::getAvailableLocales(count);
  for (int32_t i = 0; i < count; ++i)
    if (std::strcmp(available[i].getLanguage(), locale.getLanguage()) == 0)
      return true;
  return false;
}

// The answer for the locale last asked about: every date and month name of
// a query asks about the same one, and the search goes through hundreds.
bool icuKnowsLanguage(const std::string& localeId) {
  static std::mutex mutex;
  static std::string asked;
  static bool known = false;
  std::lock_guard lock(mutex);
  if (asked.empty() || asked != localeId) {
    known = searchIcuLanguages(localeId);
    asked = localeId;
  }
  return known;
}

}  // namespace

std::string icuLocaleIdFromPosix(std::string_view posixName) {
  std::string_view name = posixName.substr(0, posixName.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return kPosixLocaleId;
  return std::string(name);
}

std::string userLocaleId() {
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    std::string id = icuLocaleIdFromPosix(value);
    return icuKnowsLanguage(id) ? id : kPosixLocaleId;
  }
  return kPosixLocaleId;
}

}  // namespace corvane
