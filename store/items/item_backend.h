// What a store whose items are iCalendar text provides beneath the one
// policy (store/items/item_store.h): its lists, the text of its items, and
// four changes, each refused when the item is no longer as it was read.
// The policy decides everything else: which reminder an item holds, what a
// query selects, which failures a fetch may skip, and what a change writes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/reminder_list.h"
#include "store/reminder_store.h"
#include "store/result.h"

namespace corvane {

// One state of one item as the backend read it: where it is and what it
// held, in the backend's own terms (a vdir file's folder, name and stamp;
// EDS's objects). The policy only keeps it and hands it back.
class ItemVersion {
 public:
  virtual ~ItemVersion() = default;
  // Whether `other` is the same item in the same state.
  virtual bool sameAs(const ItemVersion& other) const = 0;
};
using ItemVersionPtr = std::shared_ptr<const ItemVersion>;

// An item read on its own, for a lookup or a change.
struct StoredItem {
  std::string text;
  std::string listIdentifier;
  ItemVersionPtr version;
};

// Receives the items of a read of many lists. Both calls may come from
// several threads at once; each returns whether the read goes on.
class ItemVisitor {
 public:
  virtual ~ItemVisitor() = default;
  // Whether the visitor wants an item at all, judged by its text alone; a
  // backend need not name an item it does not want (a query of due
  // reminders skips most of a store's items unparsed, and unnamed).
  virtual bool wants(std::string_view text) const = 0;
  // The item at `position` of the read, counted in store order over every
  // list read; positions are distinct, not necessarily dense.
  virtual bool item(std::size_t position, std::string_view text,
                    const std::string& listIdentifier,
                    std::string reminderIdentifier) = 0;
  // A list (`wholeList`) or an item that is there but could not be read.
  virtual bool failed(const Failure& failure, bool wholeList) = 0;
};

class ItemBackend {
 public:
  virtual ~ItemBackend() = default;

  // As ReminderStore's: the grant now, and asking for it (may block; the
  // policy calls it on a thread of its own).
  virtual AuthorizationStatus authorizationStatus() const = 0;
  virtual bool requestAccess() = 0;

  // Every list, in store order.
  virtual Result<std::vector<ReminderList>> lists() const = 0;
  // The list with that identifier, or absent.
  virtual Result<ReminderList> list(const std::string& identifier) const = 0;

  // Hands every item of the lists named (every list when absent) to
  // `visitor`. A named list that is not there is reported as a failed list
  // of kind kNotFound. Fails when the read stopped: the visitor said so,
  // or the store itself could not be read.
  virtual Outcome readItems(
      const std::optional<std::vector<std::string>>& lists,
      ItemVisitor& visitor) = 0;

  // The item a reminder identifier names; kNotFound when it names none.
  virtual Result<StoredItem> readItem(
      const std::string& reminderIdentifier) = 0;
  // The item called `name` in the list of the item `beside`; kNotFound
  // when there is none.
  virtual Result<StoredItem> readItemNamed(const ItemVersion& beside,
                                           const std::string& name) = 0;

  // Writes `text` over the item, only if it is still as `read`; kChanged
  // when it is not.
  virtual Outcome replaceItem(const ItemVersion& read,
                              std::string_view text) = 0;
  // Adds `text` as a new item called `name` (also its UID) in the list of
  // the item `beside`, made like it; kExists when that name is taken.
  // Returns the new item's version, so removeItem can take it away again.
  virtual Result<ItemVersionPtr> addItem(const ItemVersion& beside,
                                         const std::string& name,
                                         std::string_view text) = 0;
  // Removes the item, only if it is still as `read`; kChanged when not.
  virtual Outcome removeItem(const ItemVersion& read) = 0;
};

}  // namespace corvane
