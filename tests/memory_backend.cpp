#include "tests/memory_backend.h"

#include <algorithm>

namespace corvane {
namespace {

struct MemoryVersion final : ItemVersion {
  MemoryVersion(std::string l, std::string n, int r)
      : list(std::move(l)), name(std::move(n)), revision(r) {}
  bool sameAs(const ItemVersion& other) const override {
    auto* memory = dynamic_cast<const MemoryVersion*>(&other);
    return memory && memory->list == list && memory->name == name &&
           memory->revision == revision;
  }
  std::string list, name;
  int revision;
};

const MemoryVersion& versionOf(const ItemVersion& version) {
  return dynamic_cast<const MemoryVersion&>(version);
}

const Failure kGone{"The item is not there.", FailureKind::kNotFound};

}  // namespace

void MemoryBackend::addList(ReminderList list) {
  std::lock_guard guard(mutex_);
  lists_.push_back(std::move(list));
}

void MemoryBackend::putItem(const std::string& list, const std::string& name,
                            std::string text) {
  std::lock_guard guard(mutex_);
  if (Item* item = find(list, name)) {
    item->text = std::move(text);
    item->revision = ++revisions_;
    return;
  }
  items_.push_back({list, name, std::move(text), ++revisions_});
}

void MemoryBackend::failCall(Call call, Failure failure, int skip) {
  std::lock_guard guard(mutex_);
  failures_.insert_or_assign(call, std::pair{skip, std::move(failure)});
}

void MemoryBackend::failItem(const std::string& reminderIdentifier,
                             Failure failure) {
  std::lock_guard guard(mutex_);
  itemFailures_.insert_or_assign(reminderIdentifier, std::move(failure));
}

std::vector<std::pair<std::string, std::string>> MemoryBackend::items(
    const std::string& list) const {
  std::lock_guard guard(mutex_);
  std::vector<std::pair<std::string, std::string>> result;
  for (const auto& item : items_)
    if (item.list == list) result.emplace_back(item.name, item.text);
  return result;
}

std::optional<Failure> MemoryBackend::injected(Call call) {
  auto found = failures_.find(call);
  if (found == failures_.end()) return std::nullopt;
  if (found->second.first-- > 0) return std::nullopt;
  Failure failure = found->second.second;
  failures_.erase(found);
  return failure;
}

MemoryBackend::Item* MemoryBackend::find(const std::string& list,
                                         const std::string& name) {
  for (auto& item : items_)
    if (item.list == list && item.name == name) return &item;
  return nullptr;
}

Result<StoredItem> MemoryBackend::stored(const Item& item) const {
  if (auto failed = itemFailures_.find(item.list + "/" + item.name);
      failed != itemFailures_.end())
    return failed->second;
  return StoredItem{item.text, item.list,
                    std::make_shared<const MemoryVersion>(item.list, item.name,
                                                          item.revision)};
}

AuthorizationStatus MemoryBackend::authorizationStatus() const {
  return AuthorizationStatus::kAuthorized;
}

Result<std::vector<ReminderList>> MemoryBackend::lists() const {
  std::lock_guard guard(mutex_);
  return lists_;
}

Result<ReminderList> MemoryBackend::list(const std::string& identifier) const {
  std::lock_guard guard(mutex_);
  for (const auto& list : lists_)
    if (list.identifier == identifier) return list;
  return Failure{"No such list.", FailureKind::kNotFound};
}

Outcome MemoryBackend::readItems(
    const std::optional<std::vector<std::string>>& lists,
    ItemVisitor& visitor) {
  std::lock_guard guard(mutex_);
  if (auto failure = injected(Call::kReadItems)) return *failure;
  const Failure stopped{"The read was stopped."};
  std::vector<std::string> wanted;
  for (const auto& list : lists_) wanted.push_back(list.identifier);
  if (lists) {
    for (const auto& identifier : *lists)
      if (std::ranges::find(wanted, identifier) == wanted.end() &&
          !visitor.failed(Failure{"No such list.", FailureKind::kNotFound},
                          true))
        return stopped;
    wanted = *lists;
  }
  std::size_t position = 0;
  for (const auto& list : wanted) {
    if (auto failed = itemFailures_.find(list); failed != itemFailures_.end()) {
      if (!visitor.failed(failed->second, true)) return stopped;
      continue;
    }
    for (const auto& item : items_) {
      if (item.list != list) continue;
      auto read = stored(item);
      ++position;
      if (read && !visitor.wants(item.text)) continue;
      bool goOn = read ? visitor.item(position, item.text, item.list,
                                      item.list + "/" + item.name)
                       : visitor.failed(read.failure(), false);
      if (!goOn) return stopped;
    }
  }
  return done();
}

Result<StoredItem> MemoryBackend::readItem(const std::string& identifier) {
  std::lock_guard guard(mutex_);
  if (auto failure = injected(Call::kReadItem)) return *failure;
  for (const auto& item : items_)
    if (item.list + "/" + item.name == identifier) return stored(item);
  return kGone;
}

Result<StoredItem> MemoryBackend::readItemNamed(const ItemVersion& beside,
                                                const std::string& name) {
  std::lock_guard guard(mutex_);
  Item* item = find(versionOf(beside).list, name);
  if (!item) return kGone;
  return stored(*item);
}

Outcome MemoryBackend::unchanged(const ItemVersion& read) {
  const MemoryVersion& version = versionOf(read);
  Item* item = find(version.list, version.name);
  if (!item || item->revision != version.revision)
    return Failure{"Changed meanwhile.", FailureKind::kChanged};
  return done();
}

Outcome MemoryBackend::replaceItem(const ItemVersion& read,
                                   std::string_view text) {
  std::lock_guard guard(mutex_);
  if (auto failure = injected(Call::kReplace)) return *failure;
  if (Outcome same = unchanged(read); !same) return same;
  Item* item = find(versionOf(read).list, versionOf(read).name);
  item->text = text;
  item->revision = ++revisions_;
  return done();
}

Result<ItemVersionPtr> MemoryBackend::addItem(const ItemVersion& beside,
                                              const std::string& name,
                                              std::string_view text) {
  std::lock_guard guard(mutex_);
  if (auto failure = injected(Call::kAdd)) return *failure;
  const std::string& list = versionOf(beside).list;
  if (find(list, name))
    return Failure{"That name is taken.", FailureKind::kExists};
  items_.push_back({list, name, std::string(text), ++revisions_});
  return ItemVersionPtr(
      std::make_shared<const MemoryVersion>(list, name, revisions_));
}

Outcome MemoryBackend::removeItem(const ItemVersion& read) {
  std::lock_guard guard(mutex_);
  if (auto failure = injected(Call::kRemove)) return *failure;
  if (Outcome same = unchanged(read); !same) return same;
  const MemoryVersion& version = versionOf(read);
  std::erase_if(items_, [&](const Item& item) {
    return item.list == version.list && item.name == version.name;
  });
  return done();
}

}  // namespace corvane
