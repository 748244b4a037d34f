#include "tests/memory_store.h"

#include <algorithm>
#include <new>

namespace corvane {

MemoryStore::~MemoryStore() { threads_.joinAll(); }

void MemoryStore::addList(ReminderList list) {
  std::lock_guard lock(mutex_);
  lists_.push_back(std::move(list));
}

void MemoryStore::addReminder(Reminder reminder) {
  std::lock_guard lock(mutex_);
  reminders_.push_back(std::make_shared<const Reminder>(std::move(reminder)));
}

std::vector<ReminderPtr> MemoryStore::reminders() const {
  std::lock_guard lock(mutex_);
  return reminders_;
}

void MemoryStore::requestAccess(AccessCompletion completion) {
  if (throws_) throw std::bad_alloc();
  bool granted = granted_;
  threads_.start(
      [completion = std::move(completion), granted] { completion(granted); });
}

std::vector<ReminderList> MemoryStore::reminderLists() const {
  std::lock_guard lock(mutex_);
  if (throws_) throw std::bad_alloc();
  return lists_;
}

Result<ReminderList> MemoryStore::listWithIdentifier(
    const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  for (const auto& list : lists_)
    if (list.identifier == identifier) return list;
  return Failure{"No such list.", FailureKind::kNotFound};
}

std::vector<ReminderPtr> MemoryStore::matching(
    const ReminderQuery& query) const {
  std::vector<ReminderPtr> result;
  for (const auto& reminder : reminders_) {
    if (query.listIdentifiers) {
      const auto& ids = *query.listIdentifiers;
      if (std::find(ids.begin(), ids.end(), reminder->calendarIdentifier) ==
          ids.end())
        continue;
    }
    if (matches(*reminder, query)) result.push_back(reminder);
  }
  return result;
}

void MemoryStore::fetchReminders(const ReminderQuery& query,
                                 FetchCompletion completion) {
  std::optional<std::vector<ReminderPtr>> result;
  {
    std::lock_guard lock(mutex_);
    if (throws_) throw std::bad_alloc();
    ++fetchCount_;
    if (!failFetches_) result = matching(query);
  }
  threads_.start([completion = std::move(completion),
                  result = std::move(result)] { completion(result); });
}

Result<ReminderPtr> MemoryStore::lookUpReminder(const std::string& identifier) {
  std::lock_guard lock(mutex_);
  if (throws_) throw std::bad_alloc();
  if (lookupFailure_) return *lookupFailure_;
  for (const auto& reminder : reminders_)
    if (reminder->identifier == identifier) return reminder;
  return Failure{"No such reminder.", FailureKind::kNotFound};
}

Outcome MemoryStore::setCompleted(const Reminder& reminder, bool completed) {
  std::lock_guard lock(mutex_);
  if (changeFailure_) return Failure{*changeFailure_};
  for (auto& stored : reminders_) {
    if (stored->identifier != reminder.identifier) continue;
    auto changed = std::make_shared<Reminder>(*stored);
    changed->isCompleted = completed;
    stored = std::move(changed);
    return done();
  }
  return Failure{"The reminder no longer exists."};
}

Outcome MemoryStore::removeReminder(const Reminder& reminder) {
  std::lock_guard lock(mutex_);
  if (changeFailure_) return Failure{*changeFailure_};
  auto found = std::find_if(reminders_.begin(), reminders_.end(),
                            [&](const ReminderPtr& stored) {
                              return stored->identifier == reminder.identifier;
                            });
  if (found == reminders_.end())
    return Failure{"The reminder no longer exists."};
  reminders_.erase(found);
  return done();
}

}  // namespace corvane
