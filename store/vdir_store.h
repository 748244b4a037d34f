// The reminder store kept as a vdir: a folder per account, a folder per
// list inside it, one iCalendar file per item (the layout that vdirsyncer
// syncs with CalDAV servers and todoman edits).
#pragma once

#include <filesystem>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "store/file_replace.h"
#include "store/reminder_store.h"
#include "store/vdir_layout.h"

namespace corvane {

class VdirStore final : public ReminderStore {
 public:
  explicit VdirStore(std::filesystem::path root);
  // Waits for the threads of requests still running.
  ~VdirStore() override;
  VdirStore(const VdirStore&) = delete;
  VdirStore& operator=(const VdirStore&) = delete;

  static std::filesystem::path defaultRoot() { return defaultStoreRoot(); }
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
  // The item's current bytes, refused when the file changed since this
  // process read it.
  Result<StampedContents> readForChange(const Reminder& reminder);
  void forget(const std::string& identifier);
  std::optional<std::filesystem::path> filePathOf(const Reminder& reminder) const;

  std::filesystem::path root_;
  std::mutex mutex_;  // guards remembered_ and threads_
  // What this process has read, by identifier, so that a second lookup of
  // a reminder never reads its file again.
  // Keyed by a view of the remembered reminder's own identifier, which
  // lives as long as its entry: a query of 100,000 reminders keeps no
  // second copy of their identifiers.
  std::unordered_map<std::string_view, ReminderPtr> remembered_;
  // The state of each file a lookup read, to refuse changing a file that
  // another program wrote in between.
  std::unordered_map<std::string, FileStamp> stamps_;
  std::vector<std::thread> threads_;
};

}  // namespace corvane
