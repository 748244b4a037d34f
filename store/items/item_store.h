// The one store policy for every store whose items are iCalendar text (the
// vdir, EDS): the backend beneath it (store/items/item_backend.h) only
// reads and writes items, and this class decides the rest, so that a fix to
// what a change does or a fetch reports is made once for every store.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/clock.h"
#include "store/completion_threads.h"
#include "store/items/item_backend.h"
#include "store/reminder_store.h"

namespace corvane {

class ItemStore : public ReminderStore {
 public:
  // A store of the backend's items that stamps its changes with the time
  // `clock` tells.
  ItemStore(std::unique_ptr<ItemBackend> backend, Clock clock);
  // Waits for the threads of requests still running.
  ~ItemStore() override;
  ItemStore(const ItemStore&) = delete;
  ItemStore& operator=(const ItemStore&) = delete;

  AuthorizationStatus authorizationStatus() const override;
  void requestAccess(AccessCompletion completion) override;
  std::vector<ReminderList> reminderLists() const override;
  Result<ReminderList> listWithIdentifier(
      const std::string& identifier) const override;
  // A success only when every list asked for was read: a list or an item
  // the user may not read, an item that went away meanwhile and a file
  // that is no item are left out; any other failure fails the fetch, and
  // so does a list asked for by identifier that cannot be read.
  void fetchReminders(const ReminderQuery& query,
                      FetchCompletion completion) override;
  Result<ReminderPtr> lookUpReminder(const std::string& identifier) override;
  Outcome setCompleted(const Reminder& reminder, bool completed) override;
  Outcome removeReminder(const Reminder& reminder) override;

 private:
  std::optional<std::vector<ReminderPtr>> fetch(const ReminderQuery& query);
  void remember(const std::vector<ReminderPtr>& reminders);
  // The reminder's item as it is now, refused when its list may not be
  // changed or the item changed since this process looked it up.
  Result<StoredItem> readForChange(const Reminder& reminder);
  Outcome writeCompletion(const std::string& identifier, const StoredItem& item,
                          bool completed);
  bool movedAlike(const std::string& identifier, const std::string& moved);
  void forget(const std::string& identifier);

  std::unique_ptr<ItemBackend> backend_;
  const Clock clock_;
  // Guards remembered_ and read_, which lookups and changes on several
  // completions' threads share. Held only to touch them, never across a
  // read of the backend or a completion.
  std::mutex mutex_;
  // What this process has read, by identifier, so that a second lookup of
  // a reminder never reads its item again. Keyed by a view of the
  // remembered reminder's own identifier, which lives as long as its entry:
  // a query of 100,000 reminders keeps no second copy of them.
  std::unordered_map<std::string_view, ReminderPtr> remembered_;
  // The version of each item a lookup read, to refuse changing one that
  // another program wrote in between.
  std::unordered_map<std::string, ItemVersionPtr> read_;
  CompletionThreads threads_;
};

}  // namespace corvane
