// The reminder store kept as a vdir: a folder per account, a folder per
// list inside it, one iCalendar file per item (the layout that vdirsyncer
// syncs with CalDAV servers and todoman edits).
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/clock.h"
#include "store/completion_threads.h"
#include "store/reminder_store.h"
#include "store/system/descriptor.h"
#include "store/vdir/file_replace.h"
#include "store/vdir/vdir_layout.h"

namespace corvane {

class VdirStore final : public ReminderStore {
 public:
  // A store at `root`, which request_access may make (with the folders
  // missing between it and `madeBelow`; by default only the root itself),
  // that stamps its changes with the time `clock` tells.
  explicit VdirStore(std::filesystem::path root,
                     std::filesystem::path madeBelow = {},
                     Clock clock = systemClock());
  VdirStore(const StoreLocation& location, Clock clock)
      : VdirStore(location.root, location.madeBelow, std::move(clock)) {}
  // Waits for the threads of requests still running.
  ~VdirStore() override;
  VdirStore(const VdirStore&) = delete;
  VdirStore& operator=(const VdirStore&) = delete;

  static StoreLocation defaultLocation() { return defaultStoreLocation(); }
  const std::filesystem::path& root() const { return root_; }

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
  void remember(const std::vector<ReminderPtr>& reminders);
  // An item as a lookup found it: its open list folder, its file name
  // there and the state of the file when it was read. Carried from the
  // lookup to the change, so nothing is looked up by path twice.
  struct ReadItem {
    std::shared_ptr<const Descriptor> list;
    std::string fileName;
    std::optional<FileStamp> stamp;  // absent when read by a fetch
  };
  // The item's open folder and current bytes, refused when the file
  // changed since this process read it.
  struct Changeable {
    ReadItem item;
    StampedContents current;
  };
  Result<Changeable> readForChange(const Reminder& reminder);
  void forget(const std::string& identifier);

  std::filesystem::path root_;
  std::filesystem::path madeBelow_;
  const Clock clock_;
  // Guards remembered_ and read_, which look-ups and changes on
  // several completions' threads share. Held only to touch them, never
  // across a file's read or a completion.
  std::mutex mutex_;
  // What this process has read, by identifier, so that a second lookup of
  // a reminder never reads its file again.
  // Keyed by a view of the remembered reminder's own identifier, which
  // lives as long as its entry: a query of 100,000 reminders keeps no
  // second copy of their identifiers.
  std::unordered_map<std::string_view, ReminderPtr> remembered_;
  // Where each reminder a lookup read is kept, and the state of its file,
  // to refuse changing a file that another program wrote in between.
  std::unordered_map<std::string, ReadItem> read_;
  CompletionThreads threads_;
};

}  // namespace corvane
