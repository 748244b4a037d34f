#include "recurrence/month_names.h"

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>

#include <mutex>

#include "recurrence/user_locale.h"

namespace corvane {

namespace {

constexpr int kMonthsInYear = 12;

// The names of the locale last asked for. The locale is fixed for a run, so
// one entry serves a whole query; it is keyed anyway so that a changed
// environment is never answered with stale names.
struct MonthNameCache {
  std::mutex mutex;
  std::string localeId;
  std::vector<std::string> names;
  bool filled = false;
};

MonthNameCache& monthNameCache() {
  static MonthNameCache cache;
  return cache;
}

}  // namespace

std::vector<std::string> monthNamesForLocale(const std::string& localeId) {
  // This constructor gives the Gregorian names whatever calendar the locale
  // prefers, which is what the store's month numbers count in.
  UErrorCode status = U_ZERO_ERROR;
  icu::DateFormatSymbols symbols(icu::Locale(localeId.c_str()), status);
  if (U_FAILURE(status)) return {};
  int32_t count = 0;
  const icu::UnicodeString* months = symbols.getMonths(
      count, icu::DateFormatSymbols::FORMAT, icu::DateFormatSymbols::WIDE);
  if (months == nullptr || count < kMonthsInYear) return {};
  std::vector<std::string> names;
  for (int i = 0; i < kMonthsInYear; ++i) {
    std::string name;
    months[i].toUTF8String(name);
    names.push_back(std::move(name));
  }
  return names;
}

std::string toMonthName(std::int64_t month) {
  std::string localeId = userLocaleId();
  MonthNameCache& cache = monthNameCache();
  std::lock_guard lock(cache.mutex);
  if (!cache.filled || cache.localeId != localeId) {
    cache.names = monthNamesForLocale(localeId);
    cache.localeId = std::move(localeId);
    cache.filled = true;
  }
  if (month < 1 || month > static_cast<std::int64_t>(cache.names.size()))
    return std::to_string(month);
  return cache.names[month - 1];
}

}  // namespace corvane
