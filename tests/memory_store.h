// A reminder store held in memory, for testing everything outside store/
// without touching disk. Completions run on a thread of their own, as the
// interface demands, on the threads the real stores use.
#pragma once

#include <mutex>
#include <vector>

#include "store/completion_threads.h"
#include "store/reminder_store.h"

namespace corvane {

class MemoryStore final : public ReminderStore {
 public:
  MemoryStore() = default;
  ~MemoryStore() override;

  // Test set-up.
  void addList(ReminderList list);
  void addReminder(Reminder reminder);
  void setStatus(AuthorizationStatus status) { status_ = status; }
  void setGrant(bool granted) { granted_ = granted; }
  void failFetches() { failFetches_ = true; }
  void failChanges(std::string reason) { changeFailure_ = std::move(reason); }
  // Lookups fail with `failure`, as of an item there that cannot be read.
  void failLookups(Failure failure) { lookupFailure_ = std::move(failure); }
  // From now on the lists, lookups and requests throw, as a store out of
  // memory would; a request that throws starts nothing.
  void throwFromCalls() { throws_ = true; }
  int fetchCount() const { return fetchCount_; }
  std::vector<ReminderPtr> reminders() const;

  AuthorizationStatus authorizationStatus() const override { return status_; }
  void requestAccess(AccessCompletion completion) override;
  std::vector<ReminderList> reminderLists() const override;
  Result<ReminderList> listWithIdentifier(
      const std::string& identifier) const override;
  void fetchReminders(const ReminderQuery& query,
                      FetchCompletion completion) override;
  Result<ReminderPtr> lookUpReminder(const std::string& identifier) override;
  Outcome setCompleted(const Reminder& reminder, bool completed) override;
  Outcome removeReminder(const Reminder& reminder) override;

 private:
  std::vector<ReminderPtr> matching(const ReminderQuery& query) const;

  mutable std::mutex mutex_;
  std::vector<ReminderList> lists_;
  std::vector<ReminderPtr> reminders_;
  AuthorizationStatus status_ = AuthorizationStatus::kAuthorized;
  bool granted_ = true;
  bool failFetches_ = false;
  bool throws_ = false;
  std::optional<std::string> changeFailure_;
  std::optional<Failure> lookupFailure_;
  int fetchCount_ = 0;
  CompletionThreads threads_;
};

}  // namespace corvane
