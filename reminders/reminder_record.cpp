#include "reminders/reminder_record.h"

#include <chrono>
#include <cstdio>

namespace corvane {

std::string formatISODate(Instant instant) {
  using namespace std::chrono;
  auto day = floor<days>(instant);
  year_month_day date{day};
  hh_mm_ss time{instant - day};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::optional<Instant> resolveDueDate(const DueDateComponents& components) {
  return resolveComponents(components);
}

nlohmann::ordered_json makeReminderRecord(const Reminder& reminder,
                                          const RecurrenceDescriber& describe) {
  nlohmann::ordered_json record = nlohmann::ordered_json::object();
  record["id"] = reminder.identifier;
  record["title"] = reminder.title.value_or("");
  record["isCompleted"] = reminder.isCompleted;
  record["notes"] = reminder.notes.value_or("");
  record["priority"] = reminder.priority;
  record["hasAlarms"] = reminder.hasAlarms;
  record["hasRecurrenceRules"] = reminder.hasRecurrenceRules();
  record["creationDate"] = formatISODate(reminder.creationDate.value_or(now()));
  std::optional<Instant> due;
  if (reminder.dueDateComponents)
    due = resolveDueDate(*reminder.dueDateComponents);
  record["dueDate"] = due ? nlohmann::ordered_json(formatISODate(*due))
                          : nlohmann::ordered_json(nullptr);
  record["lastModifiedDate"] =
      formatISODate(reminder.lastModifiedDate.value_or(now()));
  record["calendar"] = reminder.calendarIdentifier;
  if (reminder.hasRecurrenceRules()) {
    if (auto description = describe(reminder.identifier)) {
      record["recurrenceDescription"] = description->description;
      if (description->endDetails)
        record["recurrenceEndDetails"] = *description->endDetails;
    }
  }
  return record;
}

}  // namespace corvane
