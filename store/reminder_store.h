// What corvane needs of a reminder store: access, the lists, queries for
// reminders, lookup by identifier, and the two changes. Abstract so that
// everything outside store/ is tested against an in-memory store, and so
// that another store can stand beside the vdir one.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/reminder.h"
#include "store/reminder_list.h"
#include "store/result.h"

namespace corvane {

// Status numbers as corvane reports them.
enum class AuthorizationStatus : int {
  kNotDetermined = 0,
  kRestricted = 1,
  kDenied = 2,
  kAuthorized = 3,
  kWriteOnly = 4,
};

// Which reminders a fetch selects.
struct ReminderQuery {
  // Lists to search; absent means every list of the store.
  std::optional<std::vector<std::string>> listIdentifiers;
  // Only reminders that are not completed and whose due instant is at or
  // before `dueEnding` (when set); reminders without one never match.
  bool incompleteDueOnly = false;
  std::optional<Instant> dueEnding;
  // Only reminders that have due-date components, whether or not they
  // resolve to an instant.
  bool dueDateOnly = false;
};

// Whether a reminder of one of the query's lists is selected by the query's
// other conditions: the one rule every store applies.
bool matches(const Reminder& reminder, const ReminderQuery& query);

// The word corvane reports for a status number; "unknown" for any other.
std::string authorizationStatusText(int status);

using AccessCompletion = std::function<void(bool granted)>;
// Absent when the store could not fetch at all (not the same as none).
using FetchCompletion =
    std::function<void(std::optional<std::vector<ReminderPtr>> reminders)>;

// Threads. The calls that start a request (requestAccess, fetchReminders)
// are made from one thread at a time; every other call is safe from several
// threads at once without external synchronization. A request's completion
// runs exactly once, on a thread of the store's own, possibly before the
// call that started it has returned; completions of different requests may
// run at once. A completion, and threads it starts, may make any call but
// those two (a query's completion looks reminders up from several threads
// to describe their recurrence); it must not throw, as nothing is there to
// catch it, nor destroy the store, whose destructor waits for every
// completion still running. Reminders handed out never change and may be
// read from any thread.
//
// Failures. What the store could not do is a failed Result (or, for a
// fetch, an absent answer); no call throws for it. Any call may throw
// std::bad_alloc when memory runs out, and the calls that start a request
// std::system_error when no thread can be started: the caller answers
// those as a failure of the whole command.

class ReminderStore {
 public:
  virtual ~ReminderStore() = default;

  // The current grant, answered at once.
  virtual AuthorizationStatus authorizationStatus() const = 0;
  // Asks for access; `completion` runs exactly once, on a thread other than
  // the caller's.
  virtual void requestAccess(AccessCompletion completion) = 0;

  // Every reminder list, in store order; empty when there are none or the
  // store cannot be read.
  virtual std::vector<ReminderList> reminderLists() const = 0;
  // The list with that identifier. Fails with kNotFound when it names no
  // list; with the store's failure when the store could not tell.
  virtual Result<ReminderList> listWithIdentifier(
      const std::string& identifier) const = 0;

  // Delivers the matching reminders in store order; `completion` runs
  // exactly once, on a thread other than the caller's.
  virtual void fetchReminders(const ReminderQuery& query,
                              FetchCompletion completion) = 0;

  // The reminder with that identifier. Fails with kNotFound when the
  // identifier names nothing, or names an item that is not a reminder;
  // with the item's own failure when it is there but could not be read.
  // Cheap when the item was read before in this process.
  virtual Result<ReminderPtr> lookUpReminder(const std::string& identifier) = 0;
  // The same, null for any failure: for callers to whom a reminder that
  // cannot be read is one that is not there.
  ReminderPtr reminderWithIdentifier(const std::string& identifier) {
    auto found = lookUpReminder(identifier);
    return found ? found.value() : nullptr;
  }

  // Writes the reminder's completion state to the store at once; refused
  // with kReadOnly, before anything is written, in a list that does not
  // allow changes, and with kChanged when another program changed the
  // reminder since this process looked it up.
  virtual Outcome setCompleted(const Reminder& reminder, bool completed) = 0;
  // Removes the reminder from the store at once, refused as above.
  virtual Outcome removeReminder(const Reminder& reminder) = 0;
};

}  // namespace corvane
