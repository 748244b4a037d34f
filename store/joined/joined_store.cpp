#include "store/joined/joined_store.h"

#include <future>

namespace corvane {
namespace {

using Reminders = std::vector<ReminderPtr>;
using Fetched = std::optional<Reminders>;

// Starts `store`'s fetch; its answer arrives through the future, a fetch
// that could not even start as a failed one.
std::future<Fetched> startFetch(ReminderStore& store,
                                const ReminderQuery& query) {
  auto answer = std::make_shared<std::promise<Fetched>>();
  auto future = answer->get_future();
  try {
    store.fetchReminders(query, [answer](Fetched reminders) {
      answer->set_value(std::move(reminders));
    });
  } catch (const std::exception&) {
    answer->set_value(std::nullopt);
  }
  return future;
}

}  // namespace

JoinedStore::JoinedStore(
    std::unique_ptr<ReminderStore> first,
    std::function<std::unique_ptr<ReminderStore>()> openSecond, Route route)
    : first_(std::move(first)),
      openSecond_(std::move(openSecond)),
      route_(std::move(route)) {}

JoinedStore::~JoinedStore() { threads_.joinAll(); }

ReminderStore* JoinedStore::second() const {
  std::call_once(secondOpened_, [this] { second_ = openSecond_(); });
  return second_.get();
}

ReminderStore& JoinedStore::storeOfReminder(const std::string& identifier) {
  if (route_.ownsReminder(identifier))
    if (ReminderStore* store = second()) return *store;
  return *first_;
}

AuthorizationStatus JoinedStore::authorizationStatus() const {
  AuthorizationStatus status = first_->authorizationStatus();
  // The second store is opened only when the first does not decide.
  if (status != AuthorizationStatus::kAuthorized && second() &&
      second()->authorizationStatus() == AuthorizationStatus::kAuthorized)
    return AuthorizationStatus::kAuthorized;
  return status;
}

void JoinedStore::requestAccess(AccessCompletion completion) {
  first_->requestAccess(std::move(completion));
}

std::vector<ReminderList> JoinedStore::reminderLists() const {
  std::vector<ReminderList> lists = first_->reminderLists();
  if (ReminderStore* store = second()) {
    std::vector<ReminderList> more = store->reminderLists();
    lists.insert(lists.end(), std::make_move_iterator(more.begin()),
                 std::make_move_iterator(more.end()));
  }
  return lists;
}

Result<ReminderList> JoinedStore::listWithIdentifier(
    const std::string& identifier) const {
  if (!route_.ownsList(identifier))
    return first_->listWithIdentifier(identifier);
  ReminderStore* store = second();
  if (!store)
    return Failure{"The list's store is not there.", FailureKind::kNotFound};
  return store->listWithIdentifier(identifier);
}

void JoinedStore::fetchReminders(const ReminderQuery& query,
                                 FetchCompletion completion) {
  threads_.deliver([this, query] { return fetchBoth(query); },
                   std::move(completion));
}

Fetched JoinedStore::fetchBoth(const ReminderQuery& query) {
  ReminderQuery firstQuery = query, secondQuery = query;
  bool askFirst = true, askSecond = true;
  if (query.listIdentifiers) {
    firstQuery.listIdentifiers->clear();
    secondQuery.listIdentifiers->clear();
    for (const auto& identifier : *query.listIdentifiers)
      (route_.ownsList(identifier) ? secondQuery : firstQuery)
          .listIdentifiers->push_back(identifier);
    askSecond = !secondQuery.listIdentifiers->empty();
    // No list at all is the first store's question to answer.
    askFirst = !firstQuery.listIdentifiers->empty() || !askSecond;
  }
  std::future<Fetched> fromFirst, fromSecond;
  if (askFirst) fromFirst = startFetch(*first_, firstQuery);
  if (askSecond) {
    ReminderStore* store = second();
    // A list asked for by identifier must be read, whichever store has it.
    if (!store && query.listIdentifiers) {
      if (fromFirst.valid()) fromFirst.wait();
      return std::nullopt;
    }
    if (store) fromSecond = startFetch(*store, secondQuery);
  }
  // Every store that was asked and is there must answer: one that failed
  // would leave its reminders out of what looks like a whole answer.
  Fetched firstPart =
      fromFirst.valid() ? fromFirst.get() : Fetched(Reminders{});
  Fetched secondPart =
      fromSecond.valid() ? fromSecond.get() : Fetched(Reminders{});
  if (!firstPart || !secondPart) return std::nullopt;
  firstPart->insert(firstPart->end(),
                    std::make_move_iterator(secondPart->begin()),
                    std::make_move_iterator(secondPart->end()));
  return firstPart;
}

Result<ReminderPtr> JoinedStore::lookUpReminder(const std::string& identifier) {
  return storeOfReminder(identifier).lookUpReminder(identifier);
}

Outcome JoinedStore::setCompleted(const Reminder& reminder, bool completed) {
  return storeOfReminder(reminder.identifier).setCompleted(reminder, completed);
}

Outcome JoinedStore::removeReminder(const Reminder& reminder) {
  return storeOfReminder(reminder.identifier).removeReminder(reminder);
}

}  // namespace corvane
