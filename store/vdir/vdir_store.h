// The reminder store kept as a vdir: a folder per account, a folder per
// list inside it, one iCalendar file per item (the layout that vdirsyncer
// syncs with CalDAV servers and todoman edits). This is the vdir's side
// of the store: its folders and files; what is read and written is the
// policy's (store/items/item_store.h).
#pragma once

#include <filesystem>
#include <memory>

#include "store/clock.h"
#include "store/items/item_backend.h"
#include "store/items/item_store.h"
#include "store/vdir/vdir_layout.h"

namespace corvane {

class VdirBackend final : public ItemBackend {
 public:
  // The vdir at `root`, which request_access may make (with the folders
  // missing between it and `madeBelow`; empty for only the root itself);
  // `clock` tells how old a writer's leftover temporary file is.
  VdirBackend(std::filesystem::path root, std::filesystem::path madeBelow,
              Clock clock);

  AuthorizationStatus authorizationStatus() const override;
  bool requestAccess() override;
  Result<std::vector<ReminderList>> lists() const override;
  Result<ReminderList> list(const std::string& identifier) const override;
  Outcome readItems(const std::optional<std::vector<std::string>>& lists,
                    ItemVisitor& visitor) override;
  Result<StoredItem> readItem(const std::string& reminderIdentifier) override;
  Result<StoredItem> readItemNamed(const ItemVersion& beside,
                                   const std::string& name) override;
  Outcome replaceItem(const ItemVersion& read, std::string_view text) override;
  Result<ItemVersionPtr> addItem(const ItemVersion& beside,
                                 const std::string& name,
                                 std::string_view text) override;
  Outcome removeItem(const ItemVersion& read) override;

 private:
  std::filesystem::path root_;
  std::filesystem::path madeBelow_;
  const Clock clock_;
};

// The vdir store at `location`.
std::unique_ptr<ItemStore> makeVdirStore(const StoreLocation& location,
                                         Clock clock);

}  // namespace corvane
