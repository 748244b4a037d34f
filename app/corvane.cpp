#include "app/corvane.h"

#include <cstdio>

#include "lists/color_text.h"
#include "lists/list_catalogue.h"
#include "reminders/reminder_query.h"
#include "reminders/single_reminder.h"
#include "store/joined/make_store.h"
#include "store/utf8.h"

namespace corvane {
namespace {

void writeToStandardOutput(std::string_view piece, bool ends) {
  std::fwrite(piece.data(), 1, piece.size(), stdout);
  if (ends) std::fflush(stdout);
}

}  // namespace

Corvane::Corvane()
    : Corvane(makeStore(systemClock()), writeToStandardOutput, systemClock()) {}

Corvane::Corvane(std::unique_ptr<ReminderStore> store, OutputSink output,
                 Clock clock)
    : weekdayOrder(makeWeekdayOrder()),
      output_(std::move(output)),
      clock_(std::move(clock)),
      eventStore(std::move(store)) {}

void Corvane::run(const std::string& command,
                  const std::vector<std::string>& args) {
  auto completes = Completes::kInTheCall;
  try {
    dispatch(command, args, completes);
  } catch (...) {
    // Out of memory, or no thread to be had: the command still answers.
    // An asynchronous one whose handler has taken the envelope leaves the
    // answer and the signal to it.
    if (completes == Completes::kInTheCall) {
      outputFallback();
    } else if (!envelopeTaken_.exchange(true)) {
      outputFallback();
      completes = Completes::kInTheCall;
    }
  }
  if (completes == Completes::kInTheCall) semaphore.release();
  semaphore.acquire();
}

void Corvane::dispatch(const std::string& command,
                       const std::vector<std::string>& args,
                       Completes& completes) {
  const size_t count = args.size();
  auto fail = [&](const char* message) {
    outputJSON(std::nullopt, std::string(message), false);
    completes = Completes::kInTheCall;
  };
  auto queryArguments = [&](auto operation) {
    std::string status = count >= 2 ? args[1] : "all";
    std::string sortBy = count >= 3 ? lowercasedAscii(args[2]) : "none";
    completes = Completes::kInACompletionHandler;
    (this->*operation)(args[0], status, sortBy);
  };

  if (command == "request_access") {
    completes = Completes::kInACompletionHandler;
    requestAccessAndPrint();
  } else if (command == "list") {
    listReminderLists();
  } else if (command == "reminders") {
    if (count == 0)
      fail("List ID is required for 'reminders' command. Usage: reminders "
           "<list_id> [completion_status] [sort_by]");
    else
      queryArguments(&Corvane::getRemindersInList);
  } else if (command == "toggle") {
    if (count != 2)
      fail("Reminder ID and completion status are required for 'toggle' "
           "command");
    else
      toggleReminder(args[0], args[1] == "true");
  } else if (command == "delete") {
    if (count != 1)
      fail("Reminder ID is required for 'delete' command");
    else
      deleteReminder(args[0]);
  } else if (command == "get") {
    if (count != 1)
      fail("Reminder ID is required for 'get' command");
    else
      getReminder(args[0]);
  } else if (command == "check_permission_status") {
    checkPermissionStatus();
  } else if (command == "special_reminders") {
    if (count == 0)
      fail("Special list ID is required. Usage: special_reminders <list_id> "
           "[completion_status] [sort_by]");
    else
      queryArguments(&Corvane::getRemindersInSpecialList);
  } else {
    outputJSON(std::nullopt, "Unknown command: " + command, false);
  }
}

void Corvane::listReminderLists() {
  outputJSON(listRecords(*eventStore,
                         [this](const std::optional<RgbColor>& color) {
                           return getHexFromColor(color);
                         }),
             std::nullopt, true);
}

void Corvane::getRemindersInList(const std::string& listId,
                                 const std::string& completionStatus,
                                 const std::string& sortBy) {
  corvane::getRemindersInList(
      *eventStore, listId, completionStatus, sortBy,
      [this](const std::string& id) {
        return humanReadableRecurrenceRule(id, *eventStore);
      },
      clock_(),
      [this](Result<JsonValue> answer) { finishQuery(std::move(answer)); });
}

void Corvane::getRemindersInSpecialList(const std::string& listId,
                                        const std::string& completionStatus,
                                        const std::string& sortBy) {
  corvane::getRemindersInSpecialList(
      *eventStore, listId, completionStatus, sortBy,
      [this](const std::string& id) {
        return humanReadableRecurrenceRule(id, *eventStore);
      },
      clock_(),
      [this](Result<JsonValue> answer) { finishQuery(std::move(answer)); });
}

template <class Print>
void Corvane::finishAsynchronously(Print print) noexcept {
  // Taken already: starting the request failed in `run`, which answered.
  if (envelopeTaken_.exchange(true)) return;
  try {
    print();
  } catch (...) {
    outputFallback();
  }
  semaphore.release();
}

void Corvane::finishQuery(Result<JsonValue> answer) noexcept {
  finishAsynchronously([&] {
    if (answer.ok())
      outputJSON(std::move(answer.value()), std::nullopt, true);
    else
      outputJSON(std::nullopt, answer.reason(), false);
  });
}

void Corvane::toggleReminder(const std::string& reminderId, bool completed) {
  Outcome outcome = corvane::toggleReminder(*eventStore, reminderId, completed);
  if (outcome.ok())
    outputJSON(std::nullopt, std::nullopt, true);
  else
    outputJSON(std::nullopt, outcome.reason(), false);
}

void Corvane::deleteReminder(const std::string& reminderId) {
  Outcome outcome = corvane::deleteReminder(*eventStore, reminderId);
  if (outcome.ok())
    outputJSON(std::nullopt, std::nullopt, true);
  else
    outputJSON(std::nullopt, outcome.reason(), false);
}

void Corvane::getReminder(const std::string& reminderId) {
  Result<JsonValue> record = corvane::getReminder(
      *eventStore, reminderId,
      [this](const std::string& id) {
        return humanReadableRecurrenceRule(id, *eventStore);
      },
      clock_());
  if (record.ok())
    outputJSON(std::move(record.value()), std::nullopt, true);
  else
    outputJSON(std::nullopt, record.reason(), false);
}

void Corvane::requestAccessAndPrint() {
  requestAccess([this](bool granted) {
    finishAsynchronously(
        [&] { outputJSON(std::nullopt, std::nullopt, granted); });
  });
}

void Corvane::requestAccess(std::function<void(bool)> completion) {
  eventStore->requestAccess(std::move(completion));
}

void Corvane::outputJSON(std::optional<JsonValue> data,
                         std::optional<std::string> error, bool success) {
  try {
    JsonValue envelope = JsonValue::object();
    envelope["success"] = success;
    if (data) envelope["data"] = std::move(*data);
    if (error) envelope["error"] = std::move(*error);
    auto piece = [this](std::string_view text) {
      output_(text, false);
      outputStarted_ = true;
    };
    if (!writePrettyJson(envelope, piece)) {
      outputFallback();
      return;
    }
    output_("\n", true);
  } catch (...) {
    // Building the envelope ran out of memory, or the output failed.
    outputFallback();
  }
}

void Corvane::outputFallback() noexcept {
  if (outputStarted_) return;
  try {
    output_(kFallbackEnvelope, true);
    outputStarted_ = true;
  } catch (...) {
    // Nowhere left to answer.
  }
}

void Corvane::checkPermissionStatus() {
  JsonValue data = JsonValue::object();
  data["status"] = authorizationStatusText(
      static_cast<int>(eventStore->authorizationStatus()));
  outputJSON(std::move(data), std::nullopt, true);
}

std::string Corvane::getHexFromColor(const std::optional<RgbColor>& color) {
  return hexFromColor(color);
}

std::optional<RecurrenceDescription> Corvane::humanReadableRecurrenceRule(
    const std::string& reminderId, ReminderStore& store) {
  return corvane::humanReadableRecurrenceRule(reminderId, store, weekdayOrder);
}

}  // namespace corvane
