// The least a program can do through Akonadi's client library for what
// corvane's Akonadi store does in one run, as a floor to compare with:
//   akonadi_floor list          every to-do collection
//   akonadi_floor today         the same, then every item of each with its
//                               payload
//   akonadi_floor get ITEM      one item with its payload
// Prints a count, so that the work cannot be left out.
#include <Akonadi/CollectionFetchJob>
#include <Akonadi/CollectionFetchScope>
#include <Akonadi/Item>
#include <Akonadi/ItemFetchJob>
#include <Akonadi/ItemFetchScope>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

namespace {

const QString kTodoType =
    QStringLiteral("application/x-vnd.akonadi.calendar.todo");

long payloadSizes(Akonadi::ItemFetchJob* job) {
  job->fetchScope().fetchFullPayload();
  long count = 0;
  if (job->exec())
    for (const Akonadi::Item& item : job->items())
      count += item.payloadData().size();
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc < 2) return 2;
  long count = 0;
  if (std::strcmp(argv[1], "get") == 0 && argc == 3) {
    count = payloadSizes(
        new Akonadi::ItemFetchJob(Akonadi::Item(std::atoll(argv[2]))));
  } else {
    auto* job = new Akonadi::CollectionFetchJob(
        Akonadi::Collection::root(), Akonadi::CollectionFetchJob::Recursive);
    job->fetchScope().setContentMimeTypes({kTodoType});
    if (!job->exec()) return 1;
    for (const Akonadi::Collection& collection : job->collections()) {
      if (!collection.contentMimeTypes().contains(kTodoType)) continue;
      ++count;
      if (std::strcmp(argv[1], "today") == 0)
        count += payloadSizes(new Akonadi::ItemFetchJob(collection));
    }
  }
  std::printf("%ld\n", count);
  return 0;
}
