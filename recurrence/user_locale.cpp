#include "recurrence/user_locale.h"

#include <unicode/locid.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

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
  size_t at = posixName.find('@');
  if (at == std::string_view::npos) return std::string(name);
  // The POSIX modifier names a script or a variant of the language; ICU
  // takes a script between language and territory, a variant after them.
  std::string_view modifier = posixName.substr(at + 1);
  static constexpr std::pair<std::string_view, std::string_view> kScripts[] = {
      {"latin", "Latn"},   {"cyrillic", "Cyrl"}, {"devanagari", "Deva"},
      {"iqtelif", "Latn"}, {"arabic", "Arab"},
  };
  size_t underscore = name.find('_');
  std::string_view language = name.substr(0, underscore);
  std::string_view territory =
      underscore == std::string_view::npos ? "" : name.substr(underscore + 1);
  for (const auto& [word, script] : kScripts)
    if (modifier == word) {
      std::string id = std::string(language) + "_" + std::string(script);
      if (!territory.empty()) {
        id += '_';
        id += territory;
      }
      return id;
    }
  // "euro" chose a currency, nothing corvane shows.
  if (modifier.empty() || modifier == "euro") return std::string(name);
  std::string variant;
  for (char c : modifier) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return std::string(name);
    variant += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return std::string(language) + "_" + std::string(territory) + "_" + variant;
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
