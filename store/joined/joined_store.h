// One store made of two: the user's own store, and a second one (the
// desktop's) that is opened only when a call needs it. Lists and queries
// show the first store's reminders, then the second's; every identifier
// goes to the one store whose form it has.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "store/completion_threads.h"
#include "store/reminder_store.h"

namespace corvane {

class JoinedStore final : public ReminderStore {
 public:
  // Which identifiers belong to the second store.
  struct Route {
    std::function<bool(std::string_view)> ownsList;
    std::function<bool(std::string_view)> ownsReminder;
  };
  // `openSecond` runs at most once, when a call first needs the second
  // store; a null store from it leaves the first store alone.
  JoinedStore(std::unique_ptr<ReminderStore> first,
              std::function<std::unique_ptr<ReminderStore>()> openSecond,
              Route route);
  // Waits for the threads of requests still running.
  ~JoinedStore() override;
  JoinedStore(const JoinedStore&) = delete;
  JoinedStore& operator=(const JoinedStore&) = delete;

  // Authorized when either store is; otherwise the first store decides.
  AuthorizationStatus authorizationStatus() const override;
  // Asks the first store only: the second grants access by itself.
  void requestAccess(AccessCompletion completion) override;
  std::vector<ReminderList> reminderLists() const override;
  Result<ReminderList> listWithIdentifier(
      const std::string& identifier) const override;
  // Fails when a store that was asked, and is there, could not be read; a
  // second store that is not there is left out.
  void fetchReminders(const ReminderQuery& query,
                      FetchCompletion completion) override;
  Result<ReminderPtr> lookUpReminder(const std::string& identifier) override;
  Outcome setCompleted(const Reminder& reminder, bool completed) override;
  Outcome removeReminder(const Reminder& reminder) override;

 private:
  // The second store, opened on first use; null when there is none.
  ReminderStore* second() const;
  ReminderStore& storeOfReminder(const std::string& identifier);
  std::optional<std::vector<ReminderPtr>> fetchBoth(const ReminderQuery& query);

  std::unique_ptr<ReminderStore> first_;
  std::function<std::unique_ptr<ReminderStore>()> openSecond_;
  Route route_;
  mutable std::once_flag secondOpened_;
  mutable std::unique_ptr<ReminderStore> second_;
  CompletionThreads threads_;
};

}  // namespace corvane
