#include "store/items/item_store.h"

#include "store/ical/completion_plan.h"
#include "store/ical/other_items.h"
#include "store/items/conflict_failure.h"
#include "store/items/item_fetch.h"

namespace corvane {
namespace {

const char kReadOnly[] = "The list is read-only; nothing was written.";

}  // namespace

ItemStore::ItemStore(std::unique_ptr<ItemBackend> backend, Clock clock)
    : backend_(std::move(backend)), clock_(std::move(clock)) {}

ItemStore::~ItemStore() { threads_.joinAll(); }

AuthorizationStatus ItemStore::authorizationStatus() const {
  return backend_->authorizationStatus();
}

void ItemStore::requestAccess(AccessCompletion completion) {
  threads_.start([this, completion = std::move(completion)] {
    bool granted = false;
    try {
      granted = backend_->requestAccess();
    } catch (const std::exception&) {
      granted = false;  // out of memory: the caller must still be answered
    }
    completion(granted);
  });
}

std::vector<ReminderList> ItemStore::reminderLists() const {
  auto lists = backend_->lists();
  if (!lists) return {};
  return std::move(lists.value());
}

Result<ReminderList> ItemStore::listWithIdentifier(
    const std::string& identifier) const {
  return backend_->list(identifier);
}

void ItemStore::fetchReminders(const ReminderQuery& query,
                               FetchCompletion completion) {
  threads_.deliver([this, query] { return fetch(query); },
                   std::move(completion));
}

std::optional<std::vector<ReminderPtr>> ItemStore::fetch(
    const ReminderQuery& query) {
  FetchVisitor visitor(query);
  Outcome read = backend_->readItems(query.listIdentifiers, visitor);
  if (!read || visitor.stopped()) return std::nullopt;
  std::vector<ReminderPtr> reminders = visitor.reminders();
  remember(reminders);
  return reminders;
}

void ItemStore::remember(const std::vector<ReminderPtr>& reminders) {
  std::lock_guard guard(mutex_);
  for (const auto& reminder : reminders)
    remembered_.emplace(reminder->identifier, reminder);
}

Result<ReminderPtr> ItemStore::lookUpReminder(const std::string& identifier) {
  {
    std::lock_guard guard(mutex_);
    if (auto found = remembered_.find(identifier); found != remembered_.end())
      return found->second;
  }
  auto item = backend_->readItem(identifier);
  if (!item) return item.failure();
  ReminderPtr reminder =
      reminderOf(item.value().text, item.value().listIdentifier, identifier);
  if (!reminder)
    return Failure{"The item is not a reminder.", FailureKind::kNotFound};
  std::lock_guard guard(mutex_);
  remembered_.emplace(reminder->identifier, reminder);
  read_.insert_or_assign(identifier, std::move(item.value().version));
  return reminder;
}

Result<StoredItem> ItemStore::readForChange(const Reminder& reminder) {
  auto current = backend_->readItem(reminder.identifier);
  if (!current) return current.failure();
  auto list = backend_->list(current.value().listIdentifier);
  if (!list && list.kind() != FailureKind::kNotFound) return list.failure();
  if (list && !list.value().allowsContentModifications)
    return Failure{kReadOnly, FailureKind::kReadOnly};
  std::lock_guard guard(mutex_);
  if (auto read = read_.find(reminder.identifier);
      read != read_.end() && !read->second->sameAs(*current.value().version))
    return conflictFailure(Meanwhile::kChanged);
  return current;
}

void ItemStore::forget(const std::string& identifier) {
  std::lock_guard guard(mutex_);
  // The version the lookup read stays: a second change through the same
  // reminder (another thread's, at once) finds the item changed since, and
  // cannot complete the series' next occurrence as well.
  remembered_.erase(identifier);
}

Outcome ItemStore::setCompleted(const Reminder& reminder, bool completed) {
  const std::string identifier = reminder.identifier;
  auto item = readForChange(reminder);
  if (!item) return item.failure();
  Outcome written = writeCompletion(identifier, item.value(), completed);
  forget(identifier);
  return written;
}

// A repeating reminder's occurrence is completed in two writes: the
// completed copy goes in beside the series first, then the series moves
// on. The copy's name comes from the series and the occurrence, so a run
// stopped in between leaves a copy that the next run recognises and keeps,
// moving the series without writing a second one.
Outcome ItemStore::writeCompletion(const std::string& identifier,
                                   const StoredItem& item, bool completed) {
  auto plan = planCompletion(item.text, completed, clock_());
  if (!plan) return plan.failure();
  if (!plan.value().occurrence)
    return backend_->replaceItem(*item.version, plan.value().item);
  const CompletionPlan::Occurrence& occurrence = *plan.value().occurrence;

  ItemVersionPtr added;  // the copy this run wrote, taken away on failure
  auto created =
      backend_->addItem(*item.version, occurrence.name, occurrence.text);
  if (created) {
    added = std::move(created.value());
  } else if (created.kind() != FailureKind::kExists) {
    return created.failure();
  } else {
    auto found = backend_->readItemNamed(*item.version, occurrence.name);
    if (!found) return found.failure();
    if (!isPlannedOccurrence(found.value().text, occurrence))
      return Failure{
          "An item of the name the completed occurrence would take is in the "
          "list already; nothing was written.",
          FailureKind::kExists};
  }

  Outcome moved = backend_->replaceItem(*item.version, plan.value().item);
  if (moved || !added) return moved;
  if (moved.kind() == FailureKind::kChanged &&
      movedAlike(identifier, plan.value().item))
    return moved;  // another run moved it: the copy is that run's too
  Outcome undone = backend_->removeItem(*added);
  if (!undone)
    return Failure{moved.reason() +
                       " The completed occurrence written beside it could not "
                       "be taken away again: " +
                       undone.reason(),
                   moved.kind()};
  return moved;
}

// Whether the series now stands where `moved` (this run's moved series)
// would have put it: another run completed the same occurrence between
// this run's two writes, finding and keeping this run's copy.
bool ItemStore::movedAlike(const std::string& identifier,
                           const std::string& moved) {
  auto current = backend_->readItem(identifier);
  if (!current) return false;
  auto now = planCompletion(current.value().text, true, clock_());
  auto ours = planCompletion(moved, true, clock_());
  if (!now || !ours) return false;
  const auto& a = now.value().occurrence;
  const auto& b = ours.value().occurrence;
  return a && b ? a->name == b->name : a.has_value() == b.has_value();
}

Outcome ItemStore::removeReminder(const Reminder& reminder) {
  const std::string identifier = reminder.identifier;
  auto item = readForChange(reminder);
  if (!item) return item.failure();
  // The item is removed whole; what else it holds would go too.
  if (std::size_t others = countOtherItems(item.value().text); others > 0)
    return Failure{"The reminder's file also holds " + std::to_string(others) +
                   (others == 1 ? " other item" : " other items") +
                   ", which would be deleted with it; nothing was deleted."};
  Outcome removed = backend_->removeItem(*item.value().version);
  forget(identifier);
  return removed;
}

}  // namespace corvane
