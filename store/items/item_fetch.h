// A fetch's side of a backend's read: each item parsed, named and matched
// as it comes, on the backend's threads, and the rule for which failures
// the fetch may leave out.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/items/item_backend.h"
#include "store/reminder_store.h"

namespace corvane {

// The reminder that the item text `text` holds, kept in the list
// `listIdentifier` under `identifier`; null when it holds none.
ReminderPtr reminderOf(std::string_view text, const std::string& listIdentifier,
                       std::string identifier);

// Whether a fetch goes on past `failure`: a list or an item the user may
// not read (not theirs), an item that went away meanwhile and a file that
// is no item are left out, unless the list was asked for by identifier.
// Failures of the store to answer (an input/output error, too few
// descriptors or threads, no memory) fail the fetch.
bool fetchSkips(const Failure& failure, bool wholeList, bool listNamed);

class FetchVisitor final : public ItemVisitor {
 public:
  explicit FetchVisitor(const ReminderQuery& query);

  bool wants(std::string_view text) const override;
  bool item(std::size_t position, std::string_view text,
            const std::string& listIdentifier,
            std::string reminderIdentifier) override;
  bool failed(const Failure& failure, bool wholeList) override;

  // Whether the fetch failed: the store's read must not be trusted whole.
  bool stopped() const { return stopped_; }
  // The matching reminders, in store order.
  std::vector<ReminderPtr> reminders();

 private:
  const ReminderQuery& query_;
  const bool dueDateOnly_;
  std::atomic<bool> stopped_{false};
  std::mutex mutex_;  // guards found_
  std::vector<std::pair<std::size_t, ReminderPtr>> found_;
};

}  // namespace corvane
