// The reminder store of the GNOME desktop: Evolution Data Server's task
// lists, read and changed through EDS's own client library. Each task list
// is a list, each series of calendar objects with one UID an item, whose
// text the policy (store/items/item_store.h) reads and edits as it does a
// vdir item's file. This is EDS's side of the store.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/clock.h"
#include "store/eds/eds_objects.h"
#include "store/eds/eds_session.h"
#include "store/items/item_backend.h"
#include "store/items/item_store.h"

namespace corvane {

class EdsBackend final : public ItemBackend {
 public:
  explicit EdsBackend(std::unique_ptr<EdsSession> session);

  // EDS grants no access of its own: once it answers, corvane may use it.
  AuthorizationStatus authorizationStatus() const override;
  bool requestAccess() override;
  Result<std::vector<ReminderList>> lists() const override;
  Result<ReminderList> list(const std::string& identifier) const override;
  Outcome readItems(const std::optional<std::vector<std::string>>& lists,
                    ItemVisitor& visitor) override;
  Result<StoredItem> readItem(const std::string& reminderIdentifier) override;
  Result<StoredItem> readItemNamed(const ItemVersion& beside,
                                   const std::string& name) override;
  // Each change reads the objects again just before its client call and
  // refuses when they are not as read: EDS itself keeps no version.
  Outcome replaceItem(const ItemVersion& read, std::string_view text) override;
  Result<ItemVersionPtr> addItem(const ItemVersion& beside,
                                 const std::string& name,
                                 std::string_view text) override;
  Outcome removeItem(const ItemVersion& read) override;

 private:
  Result<StoredItem> itemOf(ECalClient* client, const std::string& sourceUid,
                            EdsSeries series);

  // Every call into EDS is made under this lock; the session is not safe
  // for use from several threads at once.
  mutable std::mutex edsMutex_;
  std::unique_ptr<EdsSession> session_;
};

// The EDS store on `session`, stamping its changes with the time `clock`
// tells.
std::unique_ptr<ItemStore> makeEdsStore(std::unique_ptr<EdsSession> session,
                                        Clock clock);

}  // namespace corvane
