#include "recurrence/medium_date.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "recurrence/user_locale.h"

namespace corvane {

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

// Midnight UTC of the day that the C library's local time shows for
// `instant`. The medium style shows no time, so formatting that day in UTC
// writes the user's local date. Taking the date from the C library rather
// than from ICU's own zone detection keeps corvane on the same zone as
// every other local time it reads, POSIX TZ rules included.
Instant localDayAsUtc(Instant instant) {
  std::time_t seconds = instant.time_since_epoch().count();
  std::tm local{};
  // POSIX leaves it open whether localtime_r reads TZ itself.
  tzset();
  if (localtime_r(&seconds, &local) == nullptr)
    return std::chrono::floor<std::chrono::days>(instant);
  std::chrono::year_month_day day{
      std::chrono::year{local.tm_year + 1900},
      std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
      std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
  return std::chrono::sys_days{day};
}

// The date as year-month-day, for a locale ICU cannot format in at all.
std::string isoDate(Instant day) {
  std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(day)};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", int{date.year()},
                unsigned{date.month()}, unsigned{date.day()});
  return text;
}

}  // namespace

std::string mediumDateInLocale(Instant instant, const std::string& localeId) {
  // Making a formatter loads the locale's patterns and a calendar, which
  // costs far more than formatting; a query formats a date for each of
  // thousands of recurring reminders, all in the same locale.
  static std::mutex mutex;
  static std::string formatterLocale;
  static std::unique_ptr<icu::DateFormat> format;
  Instant day = localDayAsUtc(instant);
  std::lock_guard lock(mutex);
  if (!format || formatterLocale != localeId) {
    format.reset(icu::DateFormat::createDateInstance(
        icu::DateFormat::kMedium, icu::Locale(localeId.c_str())));
    if (format) format->setTimeZone(*icu::TimeZone::getGMT());
    formatterLocale = localeId;
  }
  if (!format) return isoDate(day);
  UDate date = static_cast<double>(day.time_since_epoch().count()) *
               kMillisecondsPerSecond;
  icu::UnicodeString text;
  format->format(date, text);
  std::string utf8;
  text.toUTF8String(utf8);
  return utf8;
}

std::string mediumDate(Instant instant) {
  return mediumDateInLocale(instant, userLocaleId());
}

}  // namespace corvane
