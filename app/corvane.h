// The one object of a corvane run: it owns the store handle, the semaphore
// that keeps the process alive until the answer is printed, and the weekday
// table, and it has one operation per command.
#pragma once

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
#include "store/reminder_list.h"
#include "store/reminder_store.h"

namespace corvane {

// Where the envelope goes, piece by piece, `ends` set on its last piece;
// standard output unless a test says otherwise.
using OutputSink = std::function<void(std::string_view piece, bool ends)>;

class Corvane {
 public:
  // The store of the user's own vdir, printing to standard output.
  Corvane();
  Corvane(std::unique_ptr<ReminderStore> store, OutputSink output);

  // Runs one command and returns once its envelope has been printed.
  void run(const std::string& command, const std::vector<std::string>& args);

 private:
  void listReminderLists();
  void getRemindersInList(const std::string& listId,
                          const std::string& completionStatus,
                          const std::string& sortBy);
  void toggleReminder(const std::string& reminderId, bool completed);
  void deleteReminder(const std::string& reminderId);
  void getReminder(const std::string& reminderId);
  void requestAccessAndPrint();
  void requestAccess(std::function<void(bool)> completion);
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
  void finishQuery(Result<JsonValue> answer);

  std::unique_ptr<ReminderStore> eventStore;
  std::counting_semaphore<> semaphore{0};
  const WeekdayOrder weekdayOrder;
  OutputSink output_;
};

}  // namespace corvane
