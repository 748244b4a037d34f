#include "reminders/reminder_record.h"

#include <chrono>
#include <cstdio>

namespace corvane {

namespace {

void putDigits(char* at, unsigned value, int count) {
  for (int i = count - 1; i >= 0; --i, value /= 10)
    at[i] = char('0' + value % 10);
}

}  // namespace

std::string formatISODate(Instant instant) {
  using namespace std::chrono;
  auto day = floor<days>(instant);
  year_month_day date{day};
  hh_mm_ss time{instant - day};
  int year = static_cast<int>(date.year());
  // Every record carries three dates, so the common four-digit years are
  // written without going through the formatting machinery.
  if (year >= 0 && year <= 9999) {
    std::string text = "0000-00-00T00:00:00Z";
    putDigits(&text[0], static_cast<unsigned>(year), 4);
    putDigits(&text[5], static_cast<unsigned>(date.month()), 2);
    putDigits(&text[8], static_cast<unsigned>(date.day()), 2);
    putDigits(&text[11], static_cast<unsigned>(time.hours().count()), 2);
    putDigits(&text[14], static_cast<unsigned>(time.minutes().count()), 2);
    putDigits(&text[17], static_cast<unsigned>(time.seconds().count()), 2);
    return text;
  }
  char text[48];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()));
  return text;
}

std::optional<Instant> resolveDueDate(const DueDateComponents& components) {
  return resolveComponents(components);
}

nlohmann::ordered_json makeReminderRecord(const Reminder& reminder,
                                          const RecurrenceDescriber& describe,
                                          Instant now) {
  nlohmann::ordered_json record = nlohmann::ordered_json::object();
  // Each key is added once, so the members go straight to the end of the
  // object instead of being looked up first; a query builds thousands.
  auto& members = record.get_ref<nlohmann::ordered_json::object_t&>();
  members.reserve(13);
  auto add = [&members](const char* key, nlohmann::ordered_json value) {
    members.emplace_back(key, std::move(value));
  };
  add("id", reminder.identifier);
  add("title", reminder.title.value_or(""));
  add("isCompleted", reminder.isCompleted);
  add("notes", reminder.notes.value_or(""));
  add("priority", reminder.priority);
  add("hasAlarms", reminder.hasAlarms);
  add("hasRecurrenceRules", reminder.hasRecurrenceRules());
  add("creationDate", formatISODate(reminder.creationDate.value_or(now)));
  std::optional<Instant> due;
  if (reminder.dueDateComponents)
    due = resolveDueDate(*reminder.dueDateComponents);
  add("dueDate", due ? nlohmann::ordered_json(formatISODate(*due))
                     : nlohmann::ordered_json(nullptr));
  add("lastModifiedDate",
      formatISODate(reminder.lastModifiedDate.value_or(now)));
  add("calendar", reminder.calendarIdentifier);
  if (reminder.hasRecurrenceRules()) {
    if (auto description = describe(reminder.identifier)) {
      add("recurrenceDescription", description->description);
      if (description->endDetails)
        add("recurrenceEndDetails", *description->endDetails);
    }
  }
  return record;
}

}  // namespace corvane
