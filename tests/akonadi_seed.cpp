// The other Akonadi client of the end-to-end tests: makes, reads and changes
// to-do items through Akonadi's own jobs, as KOrganizer would, so the tests
// see what corvane's changes leave in Akonadi and can change an item behind
// corvane's back. Every run ends within a few seconds, answered or not.
//
//   akonadi_seed collections              id, resource and name of each to-do
//                                         collection, one a line
//   akonadi_seed create <collection> <ics>  the new item's id
//   akonadi_seed read <item>              its revision, a line, then its
//   payload akonadi_seed modify <item> <ics>      the new revision akonadi_seed
//   colour <collection> <#rrggbb>  gives it KDE's colour
#include <unistd.h>

#include <Akonadi/Collection>
#include <Akonadi/CollectionColorAttribute>
#include <Akonadi/CollectionFetchJob>
#include <Akonadi/CollectionFetchScope>
#include <Akonadi/CollectionModifyJob>
#include <Akonadi/Item>
#include <Akonadi/ItemCreateJob>
#include <Akonadi/ItemFetchJob>
#include <Akonadi/ItemFetchScope>
#include <Akonadi/ItemModifyJob>
#include <QColor>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>

namespace {

const QString kTodoType =
    QStringLiteral("application/x-vnd.akonadi.calendar.todo");

int fail(const char* what, const QString& why) {
  std::fprintf(stderr, "akonadi_seed: %s: %s\n", what, qPrintable(why));
  return 1;
}

int collections() {
  auto* job = new Akonadi::CollectionFetchJob(
      Akonadi::Collection::root(), Akonadi::CollectionFetchJob::Recursive);
  job->fetchScope().setContentMimeTypes({kTodoType});
  if (!job->exec()) return fail("collections", job->errorString());
  for (const Akonadi::Collection& collection : job->collections())
    if (collection.contentMimeTypes().contains(kTodoType))
      std::printf("%lld\t%s\t%s\n", collection.id(),
                  qPrintable(collection.resource()),
                  qPrintable(collection.name()));
  return 0;
}

int create(qint64 collection, const char* text) {
  Akonadi::Item item;
  item.setMimeType(kTodoType);
  item.setPayloadFromData(QByteArray(text));
  auto* job = new Akonadi::ItemCreateJob(item, Akonadi::Collection(collection));
  if (!job->exec()) return fail("create", job->errorString());
  std::printf("%lld\n", job->item().id());
  return 0;
}

// The item as Akonadi holds it now, payload included; invalid if not there.
Akonadi::Item fetched(qint64 id, QString& why) {
  auto* job = new Akonadi::ItemFetchJob(Akonadi::Item(id));
  job->fetchScope().fetchFullPayload();
  if (!job->exec() || job->items().size() != 1) {
    why = job->error() ? job->errorString() : QStringLiteral("no such item");
    return {};
  }
  return job->items().first();
}

int read(qint64 id) {
  QString why;
  Akonadi::Item item = fetched(id, why);
  if (!item.isValid()) return fail("read", why);
  std::printf("%d\n%s", item.revision(), item.payloadData().constData());
  return 0;
}

int modify(qint64 id, const char* text) {
  QString why;
  Akonadi::Item item = fetched(id, why);
  if (!item.isValid()) return fail("modify", why);
  item.setPayloadFromData(QByteArray(text));
  auto* job = new Akonadi::ItemModifyJob(item);
  if (!job->exec()) return fail("modify", job->errorString());
  std::printf("%d\n", job->item().revision());
  return 0;
}

// As KOrganizer and Merkuro keep a calendar's colour.
int colour(qint64 id, const char* name) {
  Akonadi::Collection collection(id);
  collection
      .attribute<Akonadi::CollectionColorAttribute>(
          Akonadi::Collection::AddIfMissing)
      ->setColor(QColor(QString::fromUtf8(name)));
  auto* job = new Akonadi::CollectionModifyJob(collection);
  if (!job->exec()) return fail("colour", job->errorString());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A hung server ends the run: the default action of SIGALRM.
  ::alarm(8);
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  const QString command = args.value(1);
  if (command == "collections" && args.size() == 2) return collections();
  if (command == "create" && args.size() == 4)
    return create(args[2].toLongLong(), argv[3]);
  if (command == "read" && args.size() == 3) return read(args[2].toLongLong());
  if (command == "modify" && args.size() == 4)
    return modify(args[2].toLongLong(), argv[3]);
  if (command == "colour" && args.size() == 4)
    return colour(args[2].toLongLong(), argv[3]);
  std::fprintf(
      stderr,
      "usage: akonadi_seed collections | create <collection> <ics> | "
      "read <item> | modify <item> <ics> | colour <collection> <#rrggbb>\n");
  return 2;
}
