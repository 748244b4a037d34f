#include "store/value_scanner.h"

#include <algorithm>
#include <array>
#include <vector>

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

// Frequency words and their numbers, as the store numbers them.
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
    if (word == name) return number;
  return std::nullopt;
}

// "SU" is 1 through "SA" 7.
std::optional<int> weekdayNamed(std::string_view word) {
  static constexpr std::array<std::string_view, 7> kDays = {
      "SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  for (size_t i = 0; i < kDays.size(); ++i)
    if (word == kDays[i]) return static_cast<int>(i) + 1;
  return std::nullopt;
}

// "MO", or a week number from -5 to 5 before it ("2MO", "-1FR").
std::optional<RecurrenceDayOfWeek> scanWeekday(std::string_view text) {
  int sign = 1;
  if (!text.empty() && text[0] == '-') {
    sign = -1;
    text.remove_prefix(1);
  }
  int week = 0;
  if (text.size() == 3) {
    if (text[0] < '1' || text[0] > '5') return std::nullopt;
    week = text[0] - '0';
    text.remove_prefix(1);
  } else if (sign < 0 || text.size() != 2) {
    return std::nullopt;
  }
  auto day = weekdayNamed(text);
  if (!day) return std::nullopt;
  return RecurrenceDayOfWeek{*day, sign * week};
}

// libical keeps BYDAY in the order of the week that starts on WKST
// (Monday unless given). Where two entries name the same day with other
// week numbers, its order among them is its sort's business: declined.
bool sortWeekdays(std::vector<RecurrenceDayOfWeek>& days, int weekStart) {
  auto place = [weekStart](const RecurrenceDayOfWeek& day) {
    return (day.dayOfTheWeek - weekStart + 7) % 7;
  };
  for (size_t i = 0; i < days.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (days[i].dayOfTheWeek == days[j].dayOfTheWeek &&
          days[i].weekNumber != days[j].weekNumber)
        return false;
  std::stable_sort(days.begin(), days.end(), [&](const auto& a, const auto& b) {
    return place(a) < place(b);
  });
  return true;
}

std::optional<int> scanSigned(std::string_view text, int high) {
  if (!text.empty() && text[0] == '-') {
    auto value = scanCount(text.substr(1), 1, high);
    if (!value) return std::nullopt;
    return -*value;
  }
  return scanCount(text, 1, high);
}

}  // namespace

std::optional<int> scanCount(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0'))
    return std::nullopt;
  auto value = digitsAt(text, 0, text.size());
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

std::optional<std::string> unescapedText(std::string_view value) {
  auto isBlank = [](char c) {
    return c == ' ';
  };  // no other control bytes reach here
  if (value.empty() || isBlank(value.front()) || isBlank(value.back()))
    return std::nullopt;
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

std::optional<RecurrenceRule> scanRule(std::string_view value) {
  RecurrenceRule rule;
  std::optional<int> frequency, interval, count;
  std::optional<DateTime> until;
  std::optional<int> weekStart;
  bool parsed = forEachPiece(value, ';', [&](std::string_view part) {
    size_t equals = part.find('=');
    if (equals == std::string_view::npos) return false;
    std::string_view name = part.substr(0, equals);
    std::string_view text = part.substr(equals + 1);
    if (name == "FREQ" && !frequency) {
      frequency = frequencyNamed(text);
      return frequency.has_value();
    }
    if (name == "INTERVAL" && !interval) {
      interval = scanCount(text, 1, 1000);
      return interval.has_value();
    }
    if (name == "COUNT" && !count) {
      count = scanCount(text, 1, 1000000);
      return count.has_value();
    }
    if (name == "UNTIL" && !until) {
      until = scanDateTime(text, text.size() == 8);
      return until.has_value();
    }
    if (name == "WKST" && !weekStart) {
      weekStart = weekdayNamed(text);
      return weekStart.has_value();
    }
    if (name == "BYDAY" && !rule.daysOfTheWeek) {
      auto& days = rule.daysOfTheWeek.emplace();
      return forEachPiece(text, ',', [&](std::string_view piece) {
        auto day = scanWeekday(piece);
        if (!day || days.size() == 35) return false;
        days.push_back(*day);
        return true;
      });
    }
    if (name == "BYMONTHDAY" && !rule.daysOfTheMonth) {
      auto& days = rule.daysOfTheMonth.emplace();
      return forEachPiece(text, ',', [&](std::string_view piece) {
        auto day = scanSigned(piece, 31);
        if (!day || days.size() == 31) return false;
        days.push_back(*day);
        return true;
      });
    }
    if (name == "BYMONTH" && !rule.monthsOfTheYear) {
      auto& months = rule.monthsOfTheYear.emplace();
      return forEachPiece(text, ',', [&](std::string_view piece) {
        auto month = scanCount(piece, 1, 12);
        if (!month || months.size() == 12) return false;
        months.push_back(*month);
        return true;
      });
    }
    return false;
  });
  // libical refuses a rule that ends both ways.
  if (!parsed || !frequency || (count && until)) return std::nullopt;
  if (rule.daysOfTheWeek &&
      !sortWeekdays(*rule.daysOfTheWeek, weekStart.value_or(2)))
    return std::nullopt;
  rule.frequency = *frequency;
  rule.interval = interval.value_or(1);
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
