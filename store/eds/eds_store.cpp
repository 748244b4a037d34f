#include "store/eds/eds_store.h"

#include "store/eds/eds_calls.h"
#include "store/eds/eds_identifiers.h"
#include "store/ical/completion_edit.h"
#include "store/ical/item_parser.h"
#include "store/ical/series_move.h"
#include "store/utf8.h"

namespace corvane {
namespace {

ReminderPtr reminderOf(const EdsSeries& series, const std::string& sourceUid,
                       EdsSession& session, ECalClient* client) {
  auto reminder = parseReminder(calendarTextOf(series, session, client));
  if (!reminder) return nullptr;
  reminder->identifier =
      repairUtf8(edsReminderIdentifier({sourceUid, series.uid}));
  reminder->calendarIdentifier = repairUtf8(edsListIdentifier(sourceUid));
  return std::make_shared<const Reminder>(std::move(*reminder));
}

// Writes the reminder's own object of the edited `calendarText` over the
// one EDS holds.
Outcome modify(ECalClient* client, std::string_view calendarText) {
  auto component = reminderComponentOf(calendarText);
  if (!component) return component.failure();
  return modifyObject(client, component.value().get());
}

Outcome remove(ECalClient* client, const std::string& uid) {
  return removeObjects(client, uid);
}

// Completes one occurrence of a repeating series: the completed occurrence
// goes in as a new object of the list first, then the series is moved on.
// When the series cannot be written the new object is taken out again,
// leaving the list as it was.
Outcome writeSeriesMove(ECalClient* client, const SeriesMove& move,
                        const std::string& occurrenceUid) {
  auto occurrence = reminderComponentOf(move.occurrence);
  if (!occurrence) return occurrence.failure();
  if (Outcome created = createObject(client, occurrence.value().get());
      !created)
    return created;
  Outcome moved = modify(client, move.series);
  if (!moved) (void)remove(client, occurrenceUid);
  return moved;
}

}  // namespace

EdsStore::EdsStore(std::unique_ptr<EdsSession> session, Clock clock)
    : session_(std::move(session)), clock_(std::move(clock)) {}

EdsStore::~EdsStore() { threads_.joinAll(); }

AuthorizationStatus EdsStore::authorizationStatus() const {
  return AuthorizationStatus::kAuthorized;
}

void EdsStore::requestAccess(AccessCompletion completion) {
  threads_.start([completion = std::move(completion)] { completion(true); });
}

std::vector<ReminderList> EdsStore::reminderLists() const {
  std::lock_guard guard(edsMutex_);
  auto lists = session_->taskLists();
  if (!lists) return {};
  return std::move(lists.value());
}

std::optional<ReminderList> EdsStore::listWithIdentifier(
    const std::string& identifier) const {
  auto sourceUid = sourceUidOf(identifier);
  if (!sourceUid) return std::nullopt;
  std::lock_guard guard(edsMutex_);
  auto list = session_->taskList(*sourceUid);
  if (!list) return std::nullopt;
  return std::move(list.value());
}

void EdsStore::fetchReminders(const ReminderQuery& query,
                              FetchCompletion completion) {
  threads_.deliver([this, query] { return fetch(query); },
                   std::move(completion));
}

std::optional<std::vector<ReminderPtr>> EdsStore::fetch(
    const ReminderQuery& query) {
  std::lock_guard edsGuard(edsMutex_);
  // The lists to read, as source UIDs; a list asked for by identifier that
  // cannot be read fails the fetch, one of all lists is left out.
  std::vector<std::string> sources;
  const bool named = query.listIdentifiers.has_value();
  if (named) {
    for (const auto& identifier : *query.listIdentifiers) {
      auto sourceUid = sourceUidOf(identifier);
      if (!sourceUid) return std::nullopt;
      sources.push_back(*sourceUid);
    }
  } else {
    auto lists = session_->taskLists();
    if (!lists) return std::nullopt;
    for (const auto& list : lists.value())
      sources.push_back(*sourceUidOf(list.identifier));
  }
  std::vector<ReminderPtr> result;
  for (const auto& sourceUid : sources) {
    auto client = session_->client(sourceUid);
    if (!client) {
      if (named || client.kind() == FailureKind::kUnavailable)
        return std::nullopt;
      continue;
    }
    auto series = readAllSeries(client.value());
    if (!series) {
      if (named || series.kind() == FailureKind::kUnavailable)
        return std::nullopt;
      continue;
    }
    for (const auto& one : series.value()) {
      ReminderPtr reminder =
          reminderOf(one, sourceUid, *session_, client.value());
      if (reminder && matches(*reminder, query))
        result.push_back(std::move(reminder));
    }
  }
  std::lock_guard guard(mutex_);
  for (const auto& reminder : result)
    remembered_.emplace(reminder->identifier, reminder);
  return result;
}

ReminderPtr EdsStore::reminderWithIdentifier(const std::string& identifier) {
  {
    std::lock_guard guard(mutex_);
    if (auto found = remembered_.find(identifier); found != remembered_.end())
      return found->second;
  }
  auto name = objectNameOf(identifier);
  if (!name) return nullptr;
  std::lock_guard edsGuard(edsMutex_);
  auto client = session_->client(name->sourceUid);
  if (!client) return nullptr;
  auto series = readSeriesPrintedAs(client.value(), name->uid);
  if (!series) return nullptr;
  ReminderPtr reminder =
      reminderOf(series.value(), name->sourceUid, *session_, client.value());
  if (!reminder) return nullptr;
  std::lock_guard guard(mutex_);
  remembered_.emplace(identifier, reminder);
  read_.insert_or_assign(identifier, std::move(series.value()));
  return reminder;
}

Result<EdsStore::Changeable> EdsStore::readForChange(const Reminder& reminder) {
  auto name = objectNameOf(reminder.identifier);
  if (!name) return Failure{"The reminder is not in EDS."};
  auto client = session_->client(name->sourceUid);
  if (!client) return client.failure();
  auto current = readSeriesPrintedAs(client.value(), name->uid);
  if (!current && current.kind() != FailureKind::kNotFound)
    return current.failure();
  if (!current)
    return Failure{
        "The reminder was deleted by another program after "
        "corvane read it; nothing was written."};
  std::lock_guard guard(mutex_);
  if (auto read = read_.find(reminder.identifier);
      read != read_.end() && !read->second.sameObjectsAs(current.value()))
    return Failure{
        "The reminder was changed by another program after corvane "
        "read it; nothing was written."};
  return Changeable{client.value(), std::move(current.value())};
}

void EdsStore::forget(const std::string& identifier) {
  std::lock_guard guard(mutex_);
  read_.erase(identifier);
  remembered_.erase(identifier);
}

Outcome EdsStore::setCompleted(const Reminder& reminder, bool completed) {
  const std::string identifier = reminder.identifier;
  std::lock_guard edsGuard(edsMutex_);
  auto changeable = readForChange(reminder);
  if (!changeable) return changeable.failure();
  auto& [client, series] = changeable.value();
  const std::string text = calendarTextOf(series, *session_, client);
  Outcome written = done();
  std::optional<SeriesMove> move;
  std::string occurrenceUid;
  if (completed) {
    occurrenceUid = newUid();
    auto moving = completeOccurrence(text, occurrenceUid, clock_());
    if (!moving) return moving.failure();
    move = std::move(moving.value());
  }
  if (move) {
    written = writeSeriesMove(client, *move, occurrenceUid);
  } else {
    auto edited = withCompletion(text, completed, clock_());
    if (!edited) return edited.failure();
    written = modify(client, edited.value());
  }
  forget(identifier);
  return written;
}

Outcome EdsStore::removeReminder(const Reminder& reminder) {
  const std::string identifier = reminder.identifier;
  std::lock_guard edsGuard(edsMutex_);
  auto changeable = readForChange(reminder);
  if (!changeable) return changeable.failure();
  Outcome removed =
      remove(changeable.value().client, changeable.value().series.uid);
  forget(identifier);
  return removed;
}

}  // namespace corvane
