// The reminder store of the GNOME desktop: Evolution Data Server's task
// lists, read and changed through EDS's own client library. Each task list
// is a list, each series of calendar objects with one UID a reminder; the
// text of those objects is read and edited by the same iCalendar code as a
// vdir item's file.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/clock.h"
#include "store/completion_threads.h"
#include "store/eds/eds_objects.h"
#include "store/eds/eds_session.h"
#include "store/reminder_store.h"

namespace corvane {

class EdsStore final : public ReminderStore {
 public:
  // A store that stamps its changes with the time `clock` tells.
  EdsStore(std::unique_ptr<EdsSession> session, Clock clock);
  // Waits for the threads of requests still running.
  ~EdsStore() override;
  EdsStore(const EdsStore&) = delete;
  EdsStore& operator=(const EdsStore&) = delete;

  // EDS grants no access of its own: once it answers, corvane may use it.
  AuthorizationStatus authorizationStatus() const override;
  void requestAccess(AccessCompletion completion) override;
  std::vector<ReminderList> reminderLists() const override;
  std::optional<ReminderList> listWithIdentifier(
      const std::string& identifier) const override;
  void fetchReminders(const ReminderQuery& query,
                      FetchCompletion completion) override;
  ReminderPtr reminderWithIdentifier(const std::string& identifier) override;
  Outcome setCompleted(const Reminder& reminder, bool completed) override;
  Outcome removeReminder(const Reminder& reminder) override;

 private:
  std::optional<std::vector<ReminderPtr>> fetch(const ReminderQuery& query);
  // The list's client and the reminder's series as EDS holds it now,
  // refused when it changed since this process looked the reminder up.
  struct Changeable {
    ECalClient* client;
    EdsSeries series;
  };
  Result<Changeable> readForChange(const Reminder& reminder);
  void forget(const std::string& identifier);

  // Every call into EDS is made under this lock; the session is not safe
  // for use from several threads at once.
  mutable std::mutex edsMutex_;
  std::unique_ptr<EdsSession> session_;

  std::mutex mutex_;  // guards remembered_ and read_
  std::unordered_map<std::string, ReminderPtr> remembered_;
  // The series each lookup read, to refuse changing one that another
  // program changed in between.
  std::unordered_map<std::string, EdsSeries> read_;
  CompletionThreads threads_;
  const Clock clock_;
};

}  // namespace corvane
