#include "app/corvane.h"

#include <type_traits>

#include "app/command_failures.h"
#include "lists/color_text.h"
#include "lists/list_catalogue.h"
#include "reminders/reminder_query.h"
#include "reminders/single_reminder.h"
#include "store/joined/make_store.h"
#include "store/utf8.h"

namespace corvane {
namespace {

// Takes `value` apart from the leaves up. nlohmann's own destructor moves
// a container's members to a stack it allocates, which out of memory ends
// the process (a destructor cannot throw); an empty container and a leaf
// go without allocating.
void dismantle(JsonValue& value) noexcept {
  if (value.is_array()) {
    auto& members = value.get_ref<JsonValue::array_t&>();
    while (!members.empty()) {
      dismantle(members.back());
      members.pop_back();
    }
  } else if (value.is_object()) {
    auto& members = value.get_ref<JsonValue::object_t&>();
    while (!members.empty()) {
      dismantle(members.back().second);
      members.pop_back();
    }
  }
}

}  // namespace

Corvane::Corvane(OutputSink output)
    : Corvane(makeStore(systemClock()), std::move(output), systemClock()) {}

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
    failure_ = failureEnvelope(command, args.size());
    dispatch(command, args, completes);
  } catch (...) {
    // Out of memory, or no thread to be had: the command still answers.
    // An asynchronous one whose handler has taken the envelope leaves the
    // answer and the signal to it.
    if (completes == Completes::kInTheCall) {
      outputFailure();
    } else if (!envelopeTaken_.exchange(true)) {
      outputFailure();
      completes = Completes::kInTheCall;
    }
  }
  if (completes == Completes::kInTheCall) semaphore.release();
  semaphore.acquire();
}

void Corvane::dispatch(const std::string& command,
                       const std::vector<std::string>& args,
                       Completes& completes) {
  if (auto error = argumentError(command, args.size())) {
    outputJSON(std::nullopt, std::move(*error), false);
    return;
  }
  auto queryArguments = [&](auto operation) {
    std::string status = args.size() >= 2 ? args[1] : "all";
    std::string sortBy = args.size() >= 3 ? lowercasedAscii(args[2]) : "none";
    completes = Completes::kInACompletionHandler;
    (this->*operation)(args[0], status, sortBy);
  };
  if (command == "request_access") {
    completes = Completes::kInACompletionHandler;
    requestAccessAndPrint();
  } else if (command == "list") {
    listReminderLists();
  } else if (command == "reminders") {
    queryArguments(&Corvane::getRemindersInList);
  } else if (command == "toggle") {
    toggleReminder(args[0], args[1] == "true");
  } else if (command == "delete") {
    deleteReminder(args[0]);
  } else if (command == "get") {
    getReminder(args[0]);
  } else if (command == "check_permission_status") {
    checkPermissionStatus();
  } else if (command == "special_reminders") {
    queryArguments(&Corvane::getRemindersInSpecialList);
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
    outputFailure();
  }
  semaphore.release();
}

void Corvane::finishQuery(Result<JsonValue> answer) noexcept {
  finishAsynchronously([&] { outputResult(std::move(answer)); });
}

void Corvane::toggleReminder(const std::string& reminderId, bool completed) {
  outputResult(corvane::toggleReminder(*eventStore, reminderId, completed));
}

void Corvane::deleteReminder(const std::string& reminderId) {
  outputResult(corvane::deleteReminder(*eventStore, reminderId));
}

void Corvane::getReminder(const std::string& reminderId) {
  outputResult(corvane::getReminder(
      *eventStore, reminderId,
      [this](const std::string& id) {
        return humanReadableRecurrenceRule(id, *eventStore);
      },
      clock_()));
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

template <class T>
void Corvane::outputResult(Result<T> result) {
  if (!result.ok())
    outputJSON(std::nullopt, result.reason(), false);
  else if constexpr (std::is_same_v<T, Done>)
    outputJSON(std::nullopt, std::nullopt, true);
  else
    outputJSON(std::move(result.value()), std::nullopt, true);
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
    const bool written = writePrettyJson(envelope, piece);
    dismantle(envelope);
    if (!written) {
      outputFallback();
      return;
    }
    output_("\n", true);
  } catch (...) {
    // Building the envelope ran out of memory, or the output failed.
    outputFailure();
  }
}

void Corvane::outputFailure() noexcept {
  // A word the command table does not have has no failure of its own.
  print(failure_.empty() ? kFallbackEnvelope : failure_);
}

void Corvane::outputFallback() noexcept { print(kFallbackEnvelope); }

void Corvane::print(std::string_view envelope) noexcept {
  if (outputStarted_) return;
  try {
    output_(envelope, true);
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
