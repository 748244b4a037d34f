#include "store/eds/eds_store.h"

#include "store/eds/eds_calls.h"
#include "store/eds/eds_identifiers.h"
#include "store/eds/eds_watch.h"
#include "store/utf8.h"

namespace corvane {
namespace {

// A series as it was read: its list's client, the list's source UID and
// its objects.
struct SeriesVersion final : ItemVersion {
  SeriesVersion(ECalClient* list, std::string source, EdsSeries objects)
      : client(list),
        sourceUid(std::move(source)),
        series(std::move(objects)) {}

  bool sameAs(const ItemVersion& other) const override {
    auto* read = dynamic_cast<const SeriesVersion*>(&other);
    return read && read->client == client && read->series.sameObjectsAs(series);
  }

  ECalClient* client;
  std::string sourceUid;
  EdsSeries series;
};

const SeriesVersion& seriesOf(const ItemVersion& version) {
  return dynamic_cast<const SeriesVersion&>(version);
}

const Failure kNotInEds{"The reminder is not in EDS.", FailureKind::kNotFound};

}  // namespace

EdsBackend::EdsBackend(std::unique_ptr<EdsSession> session)
    : session_(std::move(session)) {}

AuthorizationStatus EdsBackend::authorizationStatus() const {
  return AuthorizationStatus::kAuthorized;
}

bool EdsBackend::requestAccess() { return true; }

Result<std::vector<ReminderList>> EdsBackend::lists() const {
  std::lock_guard guard(edsMutex_);
  return session_->taskLists();
}

Result<ReminderList> EdsBackend::list(const std::string& identifier) const {
  const Failure none{"The list is not in EDS.", FailureKind::kNotFound};
  auto sourceUid = sourceUidOf(identifier);
  if (!sourceUid) return none;
  std::lock_guard guard(edsMutex_);
  auto list = session_->taskList(*sourceUid);
  if (!list) return list.failure();
  if (!list.value()) return none;
  return std::move(*list.value());
}

Outcome EdsBackend::readItems(
    const std::optional<std::vector<std::string>>& lists,
    ItemVisitor& visitor) {
  const Failure stopped{"The read was stopped."};
  std::lock_guard guard(edsMutex_);
  std::vector<std::string> sources;
  if (lists) {
    for (const auto& identifier : *lists) {
      auto sourceUid = sourceUidOf(identifier);
      if (sourceUid)
        sources.push_back(*sourceUid);
      else if (!visitor.failed(
                   Failure{"The list is not in EDS.", FailureKind::kNotFound},
                   true))
        return stopped;
    }
  } else {
    auto all = session_->taskLists();
    if (!all) return all.failure();
    for (const auto& list : all.value())
      sources.push_back(*sourceUidOf(list.identifier));
  }
  std::size_t position = 0;
  for (const auto& sourceUid : sources) {
    auto client = session_->client(sourceUid);
    if (!client) {
      if (!visitor.failed(client.failure(), true)) return stopped;
      continue;
    }
    auto series = readAllSeries(client.value());
    if (!series) {
      if (!visitor.failed(series.failure(), true)) return stopped;
      continue;
    }
    const std::string listIdentifier = repairUtf8(edsListIdentifier(sourceUid));
    for (const auto& one : series.value()) {
      const std::string text = calendarTextOf(one, *session_, client.value());
      ++position;
      if (!visitor.wants(text)) continue;
      if (!visitor.item(
              position, text, listIdentifier,
              repairUtf8(edsReminderIdentifier({sourceUid, one.uid}))))
        return stopped;
    }
  }
  return done();
}

Result<StoredItem> EdsBackend::itemOf(ECalClient* client,
                                      const std::string& sourceUid,
                                      EdsSeries series) {
  std::string text = calendarTextOf(series, *session_, client);
  return StoredItem{std::move(text), repairUtf8(edsListIdentifier(sourceUid)),
                    std::make_shared<const SeriesVersion>(client, sourceUid,
                                                          std::move(series))};
}

Result<StoredItem> EdsBackend::readItem(const std::string& identifier) {
  auto name = objectNameOf(identifier);
  if (!name) return kNotInEds;
  std::lock_guard guard(edsMutex_);
  auto client = session_->client(name->sourceUid);
  // A list that is no list of EDS's holds no reminder; EDS not answering
  // is told as it is.
  if (!client)
    return client.kind() == FailureKind::kNotFound ? kNotInEds
                                                   : client.failure();
  auto series = readSeriesPrintedAs(client.value(), name->uid);
  if (!series) return series.failure();
  return itemOf(client.value(), name->sourceUid, std::move(series.value()));
}

Result<StoredItem> EdsBackend::readItemNamed(const ItemVersion& beside,
                                             const std::string& name) {
  const SeriesVersion& sibling = seriesOf(beside);
  std::lock_guard guard(edsMutex_);
  auto series = readSeries(sibling.client, name);
  if (!series) return series.failure();
  if (!series.value()) return kNotInEds;
  return itemOf(sibling.client, sibling.sourceUid, std::move(*series.value()));
}

Outcome EdsBackend::replaceItem(const ItemVersion& read,
                                std::string_view text) {
  auto component = reminderComponentOf(text);
  if (!component) return component.failure();
  std::lock_guard guard(edsMutex_);
  return modifyIfStillAsRead(seriesOf(read).client, seriesOf(read).series,
                             component.value().get());
}

Result<ItemVersionPtr> EdsBackend::addItem(const ItemVersion& beside,
                                           const std::string& name,
                                           std::string_view text) {
  const SeriesVersion& sibling = seriesOf(beside);
  auto component = reminderComponentOf(text);
  if (!component) return component.failure();
  std::lock_guard guard(edsMutex_);
  if (Outcome created = createObject(sibling.client, component.value().get());
      !created)
    return created.failure();
  auto added = readSeries(sibling.client, name);
  if (!added) return added.failure();
  if (!added.value())
    return Failure{"The completed occurrence could not be read back."};
  return ItemVersionPtr(std::make_shared<const SeriesVersion>(
      sibling.client, sibling.sourceUid, std::move(*added.value())));
}

Outcome EdsBackend::removeItem(const ItemVersion& read) {
  std::lock_guard guard(edsMutex_);
  return removeIfStillAsRead(seriesOf(read).client, seriesOf(read).series);
}

std::unique_ptr<ItemStore> makeEdsStore(std::unique_ptr<EdsSession> session,
                                        Clock clock) {
  return std::make_unique<ItemStore>(
      std::make_unique<EdsBackend>(std::move(session)), std::move(clock));
}

}  // namespace corvane
