#include "store/ical/value_scanner.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "store/ical/content_line.h"

namespace corvane {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

std::optional<int> digitsAt(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!isDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Splits `text` at every `separator`; false when a piece is empty.
template <class Each>
bool forEachPiece(std::string_view text, char separator, Each each) {
  while (true) {
    size_t cut = text.find(separator);
    std::string_view piece = text.substr(0, cut);
    if (piece.empty() || !each(piece)) return false;
    if (cut == std::string_view::npos) return true;
    text.remove_prefix(cut + 1);
  }
}

// Calls `each` with every piece of `text` between `separator`s, empty ones
// included.
template <class Each>
void forEveryPiece(std::string_view text, char separator, Each each) {
  while (true) {
    size_t cut = text.find(separator);
    each(text.substr(0, cut));
    if (cut == std::string_view::npos) return;
    text.remove_prefix(cut + 1);
  }
}

struct DateTime {
  int year = 0, month = 0, day = 0;
  std::optional<int> hour, minute, second;  // absent for a DATE
  bool utc = false;
};

// "YYYYMMDD" when `dateOnly`, else "YYYYMMDDTHHMMSS" with an optional "Z";
// fields in their ranges, years of four digits from 1000.
std::optional<DateTime> scanDateTime(std::string_view text, bool dateOnly) {
  if (dateOnly ? text.size() != 8
               : (text.size() != 15 && text.size() != 16) || text[8] != 'T' ||
                     (text.size() == 16 && text[15] != 'Z'))
    return std::nullopt;
  auto year = digitsAt(text, 0, 4), month = digitsAt(text, 4, 2),
       day = digitsAt(text, 6, 2);
  if (!year || !month || !day || *year < 1000 || *month < 1 || *month > 12 ||
      *day < 1 || *day > 31)
    return std::nullopt;
  DateTime time{*year, *month, *day, {}, {}, {}, false};
  if (dateOnly) return time;
  auto hour = digitsAt(text, 9, 2), minute = digitsAt(text, 11, 2),
       second = digitsAt(text, 13, 2);
  if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59)
    return std::nullopt;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  time.utc = text.size() == 16;
  return time;
}

DueDateComponents componentsOf(const DateTime& time) {
  DueDateComponents components;
  components.year = time.year;
  components.month = time.month;
  components.day = time.day;
  components.hour = time.hour;
  components.minute = time.minute;
  components.second = time.second;
  return components;
}

// Frequency words (in any case) and their numbers, as the store numbers them.
std::optional<int> frequencyNamed(std::string_view word) {
  static constexpr std::array<std::pair<std::string_view, int>, 7> kWords = {{
      {"DAILY", static_cast<int>(Frequency::kDaily)},
      {"WEEKLY", static_cast<int>(Frequency::kWeekly)},
      {"MONTHLY", static_cast<int>(Frequency::kMonthly)},
      {"YEARLY", static_cast<int>(Frequency::kYearly)},
      {"HOURLY", kFrequencyHourly},
      {"MINUTELY", kFrequencyMinutely},
      {"SECONDLY", kFrequencySecondly},
  }};
  for (const auto& [name, number] : kWords)
    if (equalsIgnoringCase(word, name)) return number;
  return std::nullopt;
}

// "SU" is 1 through "SA" 7, in any case.
std::optional<int> weekdayNamed(std::string_view word) {
  static constexpr std::array<std::string_view, 7> kDays = {
      "SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  for (size_t i = 0; i < kDays.size(); ++i)
    if (equalsIgnoringCase(word, kDays[i])) return static_cast<int>(i) + 1;
  return std::nullopt;
}

// "MO", or a week number before it ("2MO", "-1FR", "+3TU").
std::optional<RecurrenceDayOfWeek> scanWeekday(std::string_view text) {
  if (text.size() < 2) return std::nullopt;
  auto day = weekdayNamed(text.substr(text.size() - 2));
  if (!day) return std::nullopt;
  std::string_view week = text.substr(0, text.size() - 2);
  if (week.empty()) return RecurrenceDayOfWeek{*day, 0};
  auto number = numberFromText(week);
  if (!number || *number < -53 || *number > 53) return std::nullopt;
  return RecurrenceDayOfWeek{*day, static_cast<int>(*number)};
}

// The numbers of a comma-separated list; pieces that are not numbers are
// left out.
std::vector<std::int64_t> numbersIn(std::string_view text) {
  std::vector<std::int64_t> numbers;
  forEveryPiece(text, ',', [&](std::string_view piece) {
    if (auto number = numberFromText(piece)) numbers.push_back(*number);
  });
  return numbers;
}

}  // namespace

std::optional<std::string> unescapedText(std::string_view value) {
  auto isBlank = [](char c) {
    return c == ' ';
  };  // no other control bytes reach here
  if (value.empty() || isBlank(value.front()) || isBlank(value.back()))
    return std::nullopt;
  return unescapedTextKeepingBlanks(value);
}

std::optional<std::string> unescapedTextKeepingBlanks(std::string_view value) {
  if (value.empty()) return std::nullopt;
  std::string text;
  text.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    size_t escape = value.find('\\', i);
    text.append(value.substr(i, escape - i));
    if (escape == std::string_view::npos) break;
    i = escape + 1;
    if (i == value.size()) return std::nullopt;
    switch (value[i]) {
      case 'n':
      case 'N':
        text += '\n';
        break;
      case ',':
      case ';':
      case '\\':
        text += value[i];
        break;
      default:
        return std::nullopt;
    }
  }
  return text;
}

bool isPlainZoneName(std::string_view name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return isLetter(c) || isDigit(c) || c == '/' || c == '_' || c == '+' ||
           c == '-' || c == '.';
  });
}

bool isLanguageParameter(std::string_view params) {
  constexpr std::string_view kName = "LANGUAGE=";
  if (params.substr(0, kName.size()) != kName || params.size() == kName.size())
    return false;
  params.remove_prefix(kName.size());
  return std::all_of(params.begin(), params.end(), [](char c) {
    return isLetter(c) || isDigit(c) || c == '-';
  });
}

std::optional<ScannedTime> scanTimeProperty(std::string_view params,
                                            std::string_view value) {
  std::optional<std::string_view> valueType, tzid;
  if (!params.empty() &&
      !forEachPiece(params, ';', [&](std::string_view piece) {
        size_t equals = piece.find('=');
        if (equals == std::string_view::npos) return false;
        std::string_view name = piece.substr(0, equals);
        std::string_view text = piece.substr(equals + 1);
        if (name == "VALUE" && !valueType &&
            (text == "DATE" || text == "DATE-TIME")) {
          valueType = text;
          return true;
        }
        if (name == "TZID" && !tzid && isPlainZoneName(text)) {
          tzid = text;
          return true;
        }
        return false;
      }))
    return std::nullopt;
  auto time = scanDateTime(value, valueType == "DATE");
  // A "Z" time with a TZID says two things at once; libical takes the "Z".
  if (!time || (time->utc && tzid)) return std::nullopt;
  return ScannedTime{componentsOf(*time), time->utc, tzid.value_or("")};
}

std::optional<std::int64_t> numberFromText(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+'))
    text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  // Gathered as a negative number, whose range reaches one further.
  std::int64_t value = 0;
  constexpr std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
  for (char c : text) {
    if (!isDigit(c) || value < (kLowest + (c - '0')) / 10) return std::nullopt;
    value = value * 10 - (c - '0');
  }
  if (negative) return value;
  if (value == kLowest) return std::nullopt;
  return -value;
}

std::optional<RecurrenceRule> ruleFromText(std::string_view value) {
  RecurrenceRule rule;
  std::optional<int> frequency;
  std::optional<std::int64_t> count;
  std::optional<DateTime> until;
  bool seenFrequency = false, seenInterval = false, seenCount = false,
       seenUntil = false;
  // The first of each part counts; parts corvane does not show (BYSETPOS,
  // WKST, ...) and pieces without "=" are passed over.
  while (!value.empty()) {
    size_t cut = value.find(';');
    std::string_view part = value.substr(0, cut);
    value.remove_prefix(cut == std::string_view::npos ? value.size() : cut + 1);
    size_t equals = part.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = part.substr(0, equals);
    std::string_view text = part.substr(equals + 1);
    if (equalsIgnoringCase(name, "FREQ") && !seenFrequency) {
      seenFrequency = true;
      frequency = frequencyNamed(text);
    } else if (equalsIgnoringCase(name, "INTERVAL") && !seenInterval) {
      seenInterval = true;
      rule.interval = numberFromText(text).value_or(1);
    } else if (equalsIgnoringCase(name, "COUNT") && !seenCount) {
      seenCount = true;
      count = numberFromText(text);
    } else if (equalsIgnoringCase(name, "UNTIL") && !seenUntil) {
      seenUntil = true;
      until = scanDateTime(text, text.size() == 8);
    } else if (equalsIgnoringCase(name, "BYDAY") && !rule.daysOfTheWeek) {
      auto& days = rule.daysOfTheWeek.emplace();
      forEveryPiece(text, ',', [&](std::string_view piece) {
        if (auto day = scanWeekday(piece)) days.push_back(*day);
      });
    } else if (equalsIgnoringCase(name, "BYMONTHDAY") && !rule.daysOfTheMonth) {
      rule.daysOfTheMonth = numbersIn(text);
    } else if (equalsIgnoringCase(name, "BYMONTH") && !rule.monthsOfTheYear) {
      rule.monthsOfTheYear = numbersIn(text);
    }
  }
  if (!frequency) return std::nullopt;
  rule.frequency = *frequency;
  std::optional<Instant> end;
  if (until) {
    DueDateComponents components = componentsOf(*until);
    if (until->utc) components.timeZone = utcTimeZone();
    end = resolveComponents(components);
  }
  if (end || count) rule.recurrenceEnd = RecurrenceEnd{end, count.value_or(0)};
  return rule;
}

}  // namespace corvane
