// The items of a store held in memory beneath the store policy, so that the
// policy is tested against a backend whose every call can be made to fail.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "store/items/item_backend.h"

namespace corvane {

class MemoryBackend final : public ItemBackend {
 public:
  // The backend's calls, for failing one of them.
  enum class Call { kReadItems, kReadItem, kReplace, kAdd, kRemove };

  // Test set-up. An item's reminder identifier is "<list>/<name>".
  void addList(ReminderList list);
  void putItem(const std::string& list, const std::string& name,
               std::string text);
  // The next `call` (after `skip` that succeed) fails with `failure`.
  void failCall(Call call, Failure failure, int skip = 0);
  // Reading this item, in a fetch or alone, fails with `failure`.
  void failItem(const std::string& reminderIdentifier, Failure failure);
  // The names and texts of a list's items, in store order.
  std::vector<std::pair<std::string, std::string>> items(
      const std::string& list) const;

  AuthorizationStatus authorizationStatus() const override;
  bool requestAccess() override { return true; }
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
  struct Item {
    std::string list, name, text;
    int revision = 0;
  };
  std::optional<Failure> injected(Call call);
  Item* find(const std::string& list, const std::string& name);
  Result<StoredItem> stored(const Item& item) const;
  Outcome unchanged(const ItemVersion& read);

  mutable std::mutex mutex_;
  std::vector<ReminderList> lists_;
  std::vector<Item> items_;
  int revisions_ = 0;
  std::map<Call, std::pair<int, Failure>> failures_;
  std::map<std::string, Failure> itemFailures_;
};

}  // namespace corvane
