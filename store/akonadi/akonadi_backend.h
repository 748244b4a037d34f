// The reminder store of the KDE desktop: Akonadi's to-do collections, read
// and changed through Akonadi's client library on a Qt thread of its own.
// Each to-do collection is a list, each to-do item an item, whose raw
// payload the policy (store/items/item_store.h) reads and edits as it does
// a vdir item's file. This is Akonadi's side of the store.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/akonadi/akonadi_calls.h"
#include "store/akonadi/akonadi_lists.h"
#include "store/clock.h"
#include "store/items/item_backend.h"
#include "store/items/item_store.h"

namespace corvane {

class AkonadiBackend final : public ItemBackend {
 public:
  explicit AkonadiBackend(std::unique_ptr<AkonadiCalls> calls);

  // Akonadi grants no access of its own: once it answers, corvane may use
  // it.
  AuthorizationStatus authorizationStatus() const override;
  bool requestAccess() override;
  // Ordered by account title, list title and collection id.
  Result<std::vector<ReminderList>> lists() const override;
  Result<ReminderList> list(const std::string& identifier) const override;
  Outcome readItems(const std::optional<std::vector<std::string>>& lists,
                    ItemVisitor& visitor) override;
  Result<StoredItem> readItem(const std::string& reminderIdentifier) override;
  // The to-do of the list whose UID is `name`: stored under it (Akonadi's
  // GID), or named by it by its resource (its remote id).
  Result<StoredItem> readItemNamed(const ItemVersion& beside,
                                   const std::string& name) override;
  // Akonadi refuses a store of an item whose revision moved on since it
  // was read: the check is the server's own.
  Outcome replaceItem(const ItemVersion& read, std::string_view text) override;
  Result<ItemVersionPtr> addItem(const ItemVersion& beside,
                                 const std::string& name,
                                 std::string_view text) override;
  Outcome removeItem(const ItemVersion& read) override;

 private:
  // The resource's name and type, asked once per run.
  Result<AkonadiResource> resource(const std::string& identifier) const;
  // kNotFound when the collection whose read failed so is gone by now (it
  // was removed after it was listed); the failure otherwise.
  Failure goneOrFailure(std::int64_t collection, Failure failure) const;
  // The id of the to-do of the collection whose UID is `uid`, if any.
  Result<std::optional<std::int64_t>> itemWithUid(std::int64_t collection,
                                                  const std::string& uid);

  std::unique_ptr<AkonadiCalls> calls_;
  mutable std::mutex resourcesMutex_;
  mutable std::map<std::string, AkonadiResource> resources_;
};

// The Akonadi store on `calls`, stamping its changes with the time `clock`
// tells.
std::unique_ptr<ItemStore> makeAkonadiStore(std::unique_ptr<AkonadiCalls> calls,
                                            Clock clock);

}  // namespace corvane
