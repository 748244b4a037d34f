#include "store/akonadi/akonadi_items.h"

#include <Akonadi/Item>
#include <Akonadi/ItemCreateJob>
#include <Akonadi/ItemDeleteJob>
#include <Akonadi/ItemFetchJob>
#include <Akonadi/ItemFetchScope>
#include <Akonadi/ItemModifyJob>
#include <Akonadi/Session>

#include "store/akonadi/akonadi_lists.h"

namespace corvane {
namespace {

bool isTodo(const Akonadi::Item& item) {
  return item.mimeType() == QLatin1String(kTodoMimeType);
}

AkonadiItem itemOf(const Akonadi::Item& item, bool payload) {
  // The server names the collection an item is stored in; the parent
  // collection is only filled in where ancestors are fetched.
  AkonadiItem read{item.id(),
                   item.storageCollectionId(),
                   item.revision(),
                   item.gid().toStdString(),
                   item.remoteId().toStdString(),
                   {}};
  if (payload && item.hasPayload())
    read.text = item.payloadData().toStdString();
  return read;
}

// An item holding `text` as a to-do's payload; made on the Qt thread, as
// the payload goes through Akonadi's serializer plugins.
Akonadi::Item todoItem(std::string_view text) {
  Akonadi::Item item;
  item.setMimeType(QLatin1String(kTodoMimeType));
  item.setPayloadFromData(
      QByteArray(text.data(), static_cast<int>(text.size())));
  return item;
}

void scope(Akonadi::ItemFetchJob* job, bool payload) {
  job->fetchScope().fetchFullPayload(payload);
  job->fetchScope().setFetchGid(true);
  job->fetchScope().setFetchRemoteIdentification(true);
  job->fetchScope().setAncestorRetrieval(Akonadi::ItemFetchScope::None);
  if (!payload) job->fetchScope().setCacheOnly(true);
}

}  // namespace

Result<std::vector<AkonadiItem>> fetchItems(const AkonadiCalls& calls,
                                            std::int64_t collection,
                                            bool payload) {
  using Answer = AkonadiCalls::Answer<std::vector<AkonadiItem>>;
  return calls.call<std::vector<AkonadiItem>>(
      [collection, payload](Akonadi::Session* session, Answer answer) {
        auto* job =
            new Akonadi::ItemFetchJob(Akonadi::Collection(collection), session);
        scope(job, payload);
        QObject::connect(job, &KJob::result, [answer, payload](KJob* done) {
          if (done->error()) return answer(jobFailure(*done));
          std::vector<AkonadiItem> items;
          for (const auto& item :
               static_cast<Akonadi::ItemFetchJob*>(done)->items())
            if (isTodo(item)) items.push_back(itemOf(item, payload));
          answer(std::move(items));
        });
      },
      false);
}

Result<std::optional<AkonadiItem>> fetchItem(const AkonadiCalls& calls,
                                             std::int64_t id) {
  using Answer = AkonadiCalls::Answer<std::optional<AkonadiItem>>;
  auto fetch = [&](bool payload) {
    return calls.call<std::optional<AkonadiItem>>(
        [id, payload](Akonadi::Session* session, Answer answer) {
          auto* job = new Akonadi::ItemFetchJob(Akonadi::Item(id), session);
          scope(job, payload);
          QObject::connect(job, &KJob::result, [answer, payload](KJob* done) {
            // Without its text an item is the server's alone to give: its
            // refusal (not the connection's failure) means there is none.
            if (done->error() && !payload && refusedByServer(*done))
              return answer(std::optional<AkonadiItem>());
            if (done->error()) return answer(jobFailure(*done));
            for (const auto& item :
                 static_cast<Akonadi::ItemFetchJob*>(done)->items())
              if (isTodo(item))
                return answer(std::optional(itemOf(item, payload)));
            answer(std::optional<AkonadiItem>());
          });
        },
        false);
  };
  auto item = fetch(true);
  if (item || item.kind() != FailureKind::kUnavailable) return item;
  // The server refuses an id it does not know; it also refuses the text of
  // an item whose resource cannot give it, and that item is there.
  auto bare = fetch(false);
  if (bare && !bare.value()) return bare;
  return item.failure();
}

Result<AkonadiItem> modifyItem(const AkonadiCalls& calls,
                               const AkonadiItem& read, std::string_view text) {
  using Answer = AkonadiCalls::Answer<AkonadiItem>;
  return calls.call<AkonadiItem>(
      [read, text = std::string(text)](Akonadi::Session* session,
                                       Answer answer) {
        Akonadi::Item item = todoItem(text);
        item.setId(read.id);
        item.setRevision(read.revision);
        auto* job = new Akonadi::ItemModifyJob(item, session);
        // A conflict is corvane's to report, never a dialog's to settle.
        job->disableAutomaticConflictHandling();
        QObject::connect(job, &KJob::result, [answer](KJob* done) {
          if (done->error()) return answer(jobFailure(*done));
          answer(itemOf(static_cast<Akonadi::ItemModifyJob*>(done)->item(),
                        false));
        });
      },
      true);
}

Result<AkonadiItem> createItem(const AkonadiCalls& calls,
                               std::int64_t collection, const std::string& gid,
                               std::string_view text) {
  using Answer = AkonadiCalls::Answer<AkonadiItem>;
  return calls.call<AkonadiItem>(
      [gid, collection, text = std::string(text)](Akonadi::Session* session,
                                                  Answer answer) {
        Akonadi::Item item = todoItem(text);
        item.setGid(QString::fromStdString(gid));
        auto* job = new Akonadi::ItemCreateJob(
            item, Akonadi::Collection(collection), session);
        QObject::connect(job, &KJob::result, [answer](KJob* done) {
          if (done->error()) return answer(jobFailure(*done));
          answer(itemOf(static_cast<Akonadi::ItemCreateJob*>(done)->item(),
                        false));
        });
      },
      true);
}

Outcome deleteItem(const AkonadiCalls& calls, std::int64_t id) {
  using Answer = AkonadiCalls::Answer<Done>;
  return calls.call<Done>(
      [id](Akonadi::Session* session, Answer answer) {
        auto* job = new Akonadi::ItemDeleteJob(Akonadi::Item(id), session);
        QObject::connect(job, &KJob::result, [answer](KJob* done) {
          if (done->error()) return answer(jobFailure(*done));
          answer(Done{});
        });
      },
      true);
}

}  // namespace corvane
