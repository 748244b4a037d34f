#include "store/akonadi/akonadi_backend.h"

#include <algorithm>
#include <tuple>

#include "store/akonadi/akonadi_identifiers.h"
#include "store/akonadi/akonadi_items.h"
#include "store/items/conflict_failure.h"

namespace corvane {
namespace {

// An item as it was read: its id, its collection and its revision.
struct RevisionVersion final : ItemVersion {
  explicit RevisionVersion(const AkonadiItem& read)
      : item{read.id, read.collection, read.revision, {}, {}, {}} {}

  bool sameAs(const ItemVersion& other) const override {
    auto* read = dynamic_cast<const RevisionVersion*>(&other);
    return read && read->item.id == item.id &&
           read->item.revision == item.revision;
  }

  AkonadiItem item;  // without its text
};

const AkonadiItem& itemOf(const ItemVersion& version) {
  return dynamic_cast<const RevisionVersion&>(version).item;
}

const Failure kNotInAkonadi{"The reminder is not in Akonadi.",
                            FailureKind::kNotFound};
const Failure kListNotInAkonadi{"The list is not in Akonadi.",
                                FailureKind::kNotFound};
const Failure kRemoved = conflictFailure(Meanwhile::kRemoved);
const Failure kChangedSince = conflictFailure(Meanwhile::kChanged);

StoredItem storedItemOf(AkonadiItem item) {
  std::string text = std::move(item.text);
  std::string list = akonadiListIdentifier(item.collection);
  return StoredItem{std::move(text), std::move(list),
                    std::make_shared<const RevisionVersion>(item)};
}

}  // namespace

AkonadiBackend::AkonadiBackend(std::unique_ptr<AkonadiCalls> calls)
    : calls_(std::move(calls)) {}

AuthorizationStatus AkonadiBackend::authorizationStatus() const {
  return AuthorizationStatus::kAuthorized;
}

bool AkonadiBackend::requestAccess() { return true; }

Result<AkonadiResource> AkonadiBackend::resource(
    const std::string& identifier) const {
  {
    std::lock_guard lock(resourcesMutex_);
    if (auto known = resources_.find(identifier); known != resources_.end())
      return known->second;
  }
  auto fetched = fetchResource(*calls_, identifier);
  if (!fetched) return fetched;
  std::lock_guard lock(resourcesMutex_);
  resources_.emplace(identifier, fetched.value());
  return fetched;
}

Result<std::vector<ReminderList>> AkonadiBackend::lists() const {
  auto collections = fetchTodoCollections(*calls_);
  if (!collections) return collections.failure();
  std::vector<ReminderList> lists;
  for (const auto& collection : collections.value()) {
    auto holder = resource(collection.resource);
    if (!holder) return holder.failure();
    lists.push_back(describeCollection(collection, holder.value()));
  }
  std::ranges::sort(lists, {}, [](const ReminderList& list) {
    return std::tuple(list.account.title, list.title,
                      collectionOf(list.identifier).value_or(0));
  });
  return lists;
}

Result<ReminderList> AkonadiBackend::list(const std::string& identifier) const {
  if (!collectionOf(identifier)) return kListNotInAkonadi;
  auto all = lists();
  if (!all) return all.failure();
  for (auto& list : all.value())
    if (list.identifier == identifier) return std::move(list);
  return kListNotInAkonadi;
}

Failure AkonadiBackend::goneOrFailure(std::int64_t collection,
                                      Failure failure) const {
  auto there = fetchTodoCollections(*calls_);
  if (there && std::ranges::none_of(there.value(), [&](const auto& one) {
        return one.id == collection;
      }))
    return kListNotInAkonadi;
  return failure;
}

Outcome AkonadiBackend::readItems(
    const std::optional<std::vector<std::string>>& lists,
    ItemVisitor& visitor) {
  const Failure stopped{"The read was stopped."};
  std::vector<std::int64_t> collections;
  if (lists) {
    auto there = fetchTodoCollections(*calls_);
    if (!there) return there.failure();
    for (const auto& identifier : *lists) {
      auto id = collectionOf(identifier);
      if (id && std::ranges::any_of(there.value(), [&](const auto& one) {
            return one.id == *id;
          }))
        collections.push_back(*id);
      else if (!visitor.failed(kListNotInAkonadi, true))
        return stopped;
    }
  } else {
    auto all = this->lists();
    if (!all) return all.failure();
    for (const auto& list : all.value())
      collections.push_back(*collectionOf(list.identifier));
  }
  std::size_t position = 0;
  for (std::int64_t collection : collections) {
    auto items = fetchItems(*calls_, collection, true);
    if (!items) {
      if (!visitor.failed(goneOrFailure(collection, items.failure()), true))
        return stopped;
      continue;
    }
    const std::string listIdentifier = akonadiListIdentifier(collection);
    for (const auto& item : items.value()) {
      ++position;
      if (!visitor.wants(item.text)) continue;
      if (!visitor.item(position, item.text, listIdentifier,
                        akonadiReminderIdentifier({collection, item.id})))
        return stopped;
    }
  }
  return done();
}

Result<StoredItem> AkonadiBackend::readItem(const std::string& identifier) {
  auto name = itemNameOf(identifier);
  if (!name) return kNotInAkonadi;
  auto item = fetchItem(*calls_, name->item);
  if (!item) return item.failure();
  if (!item.value() || item.value()->collection != name->collection)
    return kNotInAkonadi;
  return storedItemOf(std::move(*item.value()));
}

Result<std::optional<std::int64_t>> AkonadiBackend::itemWithUid(
    std::int64_t collection, const std::string& uid) {
  auto items = fetchItems(*calls_, collection, false);
  if (!items) return items.failure();
  // corvane stores the items it adds under their UID; the iCal resources
  // name the items they read from a file by it.
  for (const auto& item : items.value())
    if (item.gid == uid || item.remoteId == uid)
      return std::optional<std::int64_t>(item.id);
  return std::optional<std::int64_t>();
}

Result<StoredItem> AkonadiBackend::readItemNamed(const ItemVersion& beside,
                                                 const std::string& name) {
  const std::int64_t collection = itemOf(beside).collection;
  auto id = itemWithUid(collection, name);
  if (!id) return id.failure();
  if (!id.value()) return kNotInAkonadi;
  auto item = fetchItem(*calls_, *id.value());
  if (!item) return item.failure();
  if (!item.value() || item.value()->collection != collection)
    return kNotInAkonadi;
  return storedItemOf(std::move(*item.value()));
}

Outcome AkonadiBackend::replaceItem(const ItemVersion& read,
                                    std::string_view text) {
  auto stored = modifyItem(*calls_, itemOf(read), text);
  if (stored || stored.kind() != FailureKind::kUnavailable)
    return stored ? done() : Outcome(stored.failure());
  // The server refuses a store of an item it no longer has.
  auto current = fetchItem(*calls_, itemOf(read).id);
  if (current && !current.value()) return kRemoved;
  return stored.failure();
}

Result<ItemVersionPtr> AkonadiBackend::addItem(const ItemVersion& beside,
                                               const std::string& name,
                                               std::string_view text) {
  const std::int64_t collection = itemOf(beside).collection;
  auto taken = itemWithUid(collection, name);
  if (!taken) return taken.failure();
  if (taken.value())
    return Failure{"A reminder of that UID is in the list already.",
                   FailureKind::kExists};
  auto created = createItem(*calls_, collection, name, text);
  if (!created) return created.failure();
  created.value().collection = collection;
  return ItemVersionPtr(
      std::make_shared<const RevisionVersion>(created.value()));
}

Outcome AkonadiBackend::removeItem(const ItemVersion& read) {
  auto current = fetchItem(*calls_, itemOf(read).id);
  if (!current) return current.failure();
  if (!current.value()) return kRemoved;
  if (current.value()->revision != itemOf(read).revision) return kChangedSince;
  return deleteItem(*calls_, itemOf(read).id);
}

std::unique_ptr<ItemStore> makeAkonadiStore(std::unique_ptr<AkonadiCalls> calls,
                                            Clock clock) {
  return std::make_unique<ItemStore>(
      std::make_unique<AkonadiBackend>(std::move(calls)), std::move(clock));
}

}  // namespace corvane
