#include "store/akonadi/akonadi_lists.h"

#include <Akonadi/AttributeFactory>
#include <Akonadi/CollectionColorAttribute>
#include <Akonadi/CollectionFetchJob>
#include <Akonadi/CollectionFetchScope>
#include <Akonadi/EntityDisplayAttribute>
#include <Akonadi/ServerManager>
#include <Akonadi/Session>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>

#include "store/akonadi/akonadi_identifiers.h"
#include "store/utf8.h"

namespace corvane {
namespace {

std::string textOf(const QString& text) {
  return repairUtf8(text.toStdString());
}

std::optional<RgbColor> colorOf(const Akonadi::Collection& collection) {
  QColor color;
  // Merkuro and KOrganizer keep a calendar's colour in this attribute;
  // older clients left a background colour in the display attribute.
  if (auto* own = collection.attribute<Akonadi::CollectionColorAttribute>())
    color = own->color();
  if (!color.isValid())
    if (auto* display = collection.attribute<Akonadi::EntityDisplayAttribute>())
      color = display->backgroundColor();
  if (!color.isValid()) return std::nullopt;
  return RgbColor{color.redF(), color.greenF(), color.blueF()};
}

AkonadiCollection collectionOf(const Akonadi::Collection& collection) {
  const auto rights = collection.rights();
  return AkonadiCollection{
      collection.id(), textOf(collection.displayName()),
      textOf(collection.resource()),
      rights.testFlag(Akonadi::Collection::CanChangeItem) &&
          rights.testFlag(Akonadi::Collection::CanDeleteItem),
      colorOf(collection),
      // The file's URL: a path for a local file.
      QUrl(collection.remoteId()).scheme().startsWith(QLatin1String("http")) ||
          QUrl(collection.remoteId()).scheme() == QLatin1String("webcal")};
}

// One string-returning method of AgentManager on Akonadi's control name,
// whose owner akonadiPresence has seen; absent when it failed.
void askAgentManager(const char* method, const QString& identifier,
                     std::function<void(std::optional<QString>)> answer) {
  QDBusMessage message = QDBusMessage::createMethodCall(
      Akonadi::ServerManager::serviceName(Akonadi::ServerManager::Control),
      QStringLiteral("/AgentManager"),
      QStringLiteral("org.freedesktop.Akonadi.AgentManager"),
      QLatin1String(method));
  message << identifier;
  message.setAutoStartService(false);
  auto* watcher =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(
          message, static_cast<int>(kAkonadiCallWait.count())));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                   [answer](QDBusPendingCallWatcher* finished) {
                     QDBusPendingReply<QString> reply = *finished;
                     finished->deleteLater();
                     if (reply.isError())
                       answer(std::nullopt);
                     else
                       answer(reply.value());
                   });
}

}  // namespace

Result<std::vector<AkonadiCollection>> fetchTodoCollections(
    const AkonadiCalls& calls) {
  using Answer = AkonadiCalls::Answer<std::vector<AkonadiCollection>>;
  return calls.call<std::vector<AkonadiCollection>>(
      [](Akonadi::Session* session, Answer answer) {
        static const bool registered = [] {
          Akonadi::AttributeFactory::registerAttribute<
              Akonadi::CollectionColorAttribute>();
          return true;
        }();
        (void)registered;
        auto* job = new Akonadi::CollectionFetchJob(
            Akonadi::Collection::root(), Akonadi::CollectionFetchJob::Recursive,
            session);
        job->fetchScope().setContentMimeTypes({QLatin1String(kTodoMimeType)});
        job->fetchScope().setListFilter(Akonadi::CollectionFetchScope::Enabled);
        QObject::connect(job, &KJob::result, [answer](KJob* done) {
          if (done->error()) return answer(jobFailure(*done));
          std::vector<AkonadiCollection> found;
          // The filter also keeps the folders above a to-do collection.
          for (const auto& collection :
               static_cast<Akonadi::CollectionFetchJob*>(done)->collections())
            if (collection.contentMimeTypes().contains(
                    QLatin1String(kTodoMimeType)))
              found.push_back(collectionOf(collection));
          answer(std::move(found));
        });
      },
      false);
}

Result<AkonadiResource> fetchResource(const AkonadiCalls& calls,
                                      const std::string& identifier) {
  using Answer = AkonadiCalls::Answer<AkonadiResource>;
  return calls.call<AkonadiResource>(
      [identifier](Akonadi::Session*, Answer answer) {
        const QString id = QString::fromStdString(identifier);
        askAgentManager(
            "agentInstanceName", id,
            [answer, id, identifier](std::optional<QString> name) {
              askAgentManager(
                  "agentInstanceType", id,
                  [answer, name, identifier](std::optional<QString> type) {
                    AkonadiResource resource{identifier, identifier};
                    if (name && !name->isEmpty()) resource.name = textOf(*name);
                    if (type && !type->isEmpty()) resource.type = textOf(*type);
                    answer(std::move(resource));
                  });
            });
      },
      false);
}

ReminderList describeCollection(const AkonadiCollection& collection,
                                const AkonadiResource& resource) {
  ReminderList list;
  list.identifier = akonadiListIdentifier(collection.id);
  list.title = collection.title;
  auto [accountKind, listKind] =
      kindsOfResource(resource.type, collection.fromWeb);
  list.kind = listKind;
  list.account = Account{resource.name, accountKind};
  list.allowsContentModifications = collection.changeable;
  list.color = collection.color;
  return list;
}

std::pair<AccountKind, ListKind> kindsOfResource(const std::string& type,
                                                 bool fromWeb) {
  if (type == "akonadi_davgroupware_resource" ||
      type == "akonadi_google_resource" ||
      type == "akonadi_googlecalendar_resource")
    return {AccountKind::kCalDav, ListKind::kCalDav};
  if (type == "akonadi_ews_resource")
    return {AccountKind::kExchange, ListKind::kExchange};
  if (type == "akonadi_ical_resource" && fromWeb)
    return {AccountKind::kSubscribed, ListKind::kSubscribed};
  return {AccountKind::kLocal, ListKind::kLocal};
}

}  // namespace corvane
