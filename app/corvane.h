// The one object of a corvane run: it owns the store handle, the semaphore
// that keeps the process alive until the answer is printed, and the weekday
// table, and it has one operation per command.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <string_view>
#include <vector>

#include "app/json_writer.h"
#include "recurrence/recurrence_description.h"
#include "recurrence/weekday.h"
#include "store/clock.h"
#include "store/reminder_list.h"
#include "store/reminder_store.h"

namespace corvane {

// Where the envelope goes, piece by piece, `ends` set on its last piece;
// standard output unless a test says otherwise.
using OutputSink = std::function<void(std::string_view piece, bool ends)>;

class Corvane {
 public:
  // The user's own stores, printing to `output`, on the system's clock.
  explicit Corvane(OutputSink output);
  // `clock` tells the current time to the commands that show it or depend
  // on the day.
  Corvane(std::unique_ptr<ReminderStore> store, OutputSink output, Clock clock);

  // Runs one command and returns once its envelope, exactly one, has been
  // printed: the command's own failure (see failureEnvelope) when it fails
  // by an exception.
  void run(const std::string& command, const std::vector<std::string>& args);

 private:
  // What `run` must do after dispatching: signal itself, or leave that to
  // the operation's completion handler.
  enum class Completes { kInTheCall, kInACompletionHandler };

  // Calls the command's operation, or prints the argument error; sets
  // `completes` before calling an asynchronous operation.
  void dispatch(const std::string& command,
                const std::vector<std::string>& args, Completes& completes);
  void listReminderLists();
  void getRemindersInList(const std::string& listId,
                          const std::string& completionStatus,
                          const std::string& sortBy);
  void toggleReminder(const std::string& reminderId, bool completed);
  void deleteReminder(const std::string& reminderId);
  void getReminder(const std::string& reminderId);
  void requestAccessAndPrint();
  void requestAccess(std::function<void(bool)> completion);
  // The envelope of a command's answer: its data, or its failure's reason.
  template <class T>
  void outputResult(Result<T> result);
  void outputJSON(std::optional<JsonValue> data,
                  std::optional<std::string> error, bool success);
  void checkPermissionStatus();
  std::string getHexFromColor(const std::optional<RgbColor>& color);
  std::optional<RecurrenceDescription> humanReadableRecurrenceRule(
      const std::string& reminderId, ReminderStore& store);
  void getRemindersInSpecialList(const std::string& listId,
                                 const std::string& completionStatus,
                                 const std::string& sortBy);

  // Prints a query's answer from whichever thread delivers it, then
  // signals; every asynchronous command ends here.
  void finishQuery(Result<JsonValue> answer) noexcept;
  // Prints an asynchronous command's envelope with `print` on a store's
  // thread, then signals; nothing escapes to the store.
  template <class Print>
  void finishAsynchronously(Print print) noexcept;
  // The command's failure envelope, made at the start of the run.
  void outputFailure() noexcept;
  // The fixed text for an envelope the printer cannot write.
  void outputFallback() noexcept;
  // Prints a whole envelope, unless a piece of one is already out (a
  // second document would follow the first). Never throws.
  void print(std::string_view envelope) noexcept;

  // Declared before eventStore, so they outlive it: its destructor joins
  // the threads whose completion handlers still use them.
  std::counting_semaphore<> semaphore{0};
  const WeekdayOrder weekdayOrder;
  OutputSink output_;
  const Clock clock_;
  // Taken by whichever of `run` and a completion handler prints the
  // envelope of an asynchronous command; the other prints nothing.
  std::atomic<bool> envelopeTaken_{false};
  bool outputStarted_ = false;  // a piece of the envelope is out
  std::string_view failure_;    // what this run prints when it cannot finish
  std::unique_ptr<ReminderStore> eventStore;
};

// What is printed when the printer cannot write an envelope (a text that is
// not UTF-8), or an unknown command word's error when memory ran out.
inline constexpr std::string_view kFallbackEnvelope =
    "{\"error\":\"Error encoding to JSON\", \"success\":false}\n";

}  // namespace corvane
