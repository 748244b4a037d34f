// Feeds arbitrary argument vectors to corvane's command dispatch, against an
// in-memory store with lists and reminders of every shape. Whatever the
// words, exactly one envelope must come out, as valid UTF-8 JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "app/corvane.h"
#include "store/utf8.h"
#include "tests/memory_store.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

corvane::Reminder reminderOf(std::string identifier, std::string list) {
  corvane::Reminder reminder;
  reminder.identifier = std::move(identifier);
  reminder.calendarIdentifier = std::move(list);
  return reminder;
}

corvane::DueDateComponents dateOnly(int year, int month, int day) {
  corvane::DueDateComponents components;
  components.year = year;
  components.month = month;
  components.day = day;
  return components;
}

std::unique_ptr<corvane::MemoryStore> sampleStore() {
  auto store = std::make_unique<corvane::MemoryStore>();
  corvane::ReminderList home;
  home.identifier = "acct/home";
  home.title = "Home";
  home.color = corvane::RgbColor{1.0, 0.5, 0.0};
  home.allowsContentModifications = true;
  store->addList(home);
  corvane::ReminderList shared;
  shared.identifier = "acct/shared";
  shared.title = "Shared \xE2\x9C\x93";
  store->addList(shared);

  corvane::Reminder plain = reminderOf("acct/home/plain", "acct/home");
  plain.title = "Buy milk / bread";
  plain.notes = "line one\nline two \"quoted\"";
  plain.priority = 9;
  store->addReminder(plain);

  corvane::Reminder due = reminderOf("acct/home/due", "acct/home");
  due.dueDateComponents =
      corvane::DueDateComponents{2026, 3, 5, 9, 30, 0, corvane::utcTimeZone()};
  due.creationDate = corvane::Instant{std::chrono::seconds{1700000000}};
  due.lastModifiedDate = corvane::Instant{std::chrono::seconds{1700000100}};
  store->addReminder(due);

  corvane::Reminder done = reminderOf("acct/shared/done", "acct/shared");
  done.isCompleted = true;
  done.dueDateComponents = dateOnly(2020, 2, 31);
  corvane::RecurrenceRule weekly;
  weekly.frequency = 1;
  weekly.interval = 2;
  weekly.daysOfTheWeek = {{{2, 0}, {4, 0}, {9, 0}}};
  weekly.recurrenceEnd = corvane::RecurrenceEnd{std::nullopt, 5};
  corvane::RecurrenceRule yearly;
  yearly.frequency = 3;
  yearly.monthsOfTheYear = {{0, 12, 13, -1}};
  done.recurrenceRules = {weekly, yearly};
  store->addReminder(done);

  corvane::Reminder odd = reminderOf("acct/shared/odd", "");
  corvane::RecurrenceRule monthly;
  monthly.frequency = 2;
  monthly.interval = -3;
  monthly.daysOfTheMonth = {{15, -1}};
  monthly.recurrenceEnd =
      corvane::RecurrenceEnd{corvane::Instant{std::chrono::seconds{0}}, 0};
  odd.recurrenceRules = {monthly};
  odd.dueDateComponents = dateOnly(1, 1, 1);
  odd.dueDateComponents->hasCalendar = false;
  store->addReminder(odd);
  return store;
}

}  // namespace

// Arguments are the input split at NUL bytes, as the kernel would have
// split them; the first is the command word.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0')
      words.emplace_back();
    else
      words.back().push_back(static_cast<char>(data[i]));
  }
  for (auto& word : words) word = corvane::repairUtf8(word);

  std::vector<std::string> printed;
  std::string pending;
  {
    // A fixed clock, so that one input always takes the same path.
    corvane::Corvane app(
        sampleStore(),
        [&](std::string_view piece, bool ends) {
          pending += piece;
          if (ends) printed.push_back(std::exchange(pending, {}));
        },
        [] { return corvane::Instant{std::chrono::seconds{1700000000}}; });
    app.run(words[0], std::vector<std::string>(words.begin() + 1, words.end()));
  }
  require(printed.size() == 1 && pending.empty());
  const std::string& out = printed.front();
  require(corvane::isValidUtf8(out));
  require(out.size() > 2 && out.back() == '\n');
  nlohmann::json envelope =
      nlohmann::json::parse(out, nullptr, /*allow_exceptions=*/false);
  require(envelope.is_object() && envelope.contains("success") &&
          envelope["success"].is_boolean());
  return 0;
}
