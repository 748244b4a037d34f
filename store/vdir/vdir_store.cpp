#include "store/vdir/vdir_store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "store/ical/completion_edit.h"
#include "store/ical/other_items.h"
#include "store/ical/series_move.h"
#include "store/utf8.h"
#include "store/vdir/authorization.h"
#include "store/system/descriptor.h"
#include "store/vdir/item_files.h"
#include "store/vdir/make_vdir_store.h"

namespace corvane {
namespace {

// Completes one occurrence of a repeating series: the completed occurrence
// goes in as a new item beside the series first, then the series' file is
// replaced (if it is still as `stamp` says) by the series moved on. When
// the series cannot be written the new item is taken out again, leaving the
// list as it was; a crash in between leaves at worst a completed
// occurrence beside a series not yet moved, and nothing lost.
Outcome writeSeriesMove(int folder, const std::string& seriesName,
                        const StampedContents& read, const SeriesMove& move,
                        const std::string& uid) {
  // The UID is a UUID: a plain, visible file name as it stands.
  const std::string name = uid + ".ics";
  // The occurrence is the series' owner's, as private as the series.
  Result<FileStamp> added =
      createNewFile(folder, name, move.occurrence, seriesName);
  if (!added) return Failure{added.reason()};
  Outcome moved = replaceFile(folder, seriesName, read, move.series);
  if (!moved)
    (void)removeFile(folder, name,
                     StampedContents{move.occurrence, added.value()});
  return moved;
}

bool canOpenDirectory(const std::filesystem::path& path) {
  return Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
      .valid();
}

}  // namespace

VdirStore::VdirStore(std::filesystem::path root,
                     std::filesystem::path madeBelow, Clock clock)
    : root_(std::move(root)),
      madeBelow_(madeBelow.empty() ? root_.parent_path()
                                   : std::move(madeBelow)),
      clock_(std::move(clock)) {}

VdirStore::~VdirStore() { threads_.joinAll(); }

AuthorizationStatus VdirStore::authorizationStatus() const {
  return authorizationStatusOf(root_, madeBelow_);
}

void VdirStore::requestAccess(AccessCompletion completion) {
  threads_.start([this, completion = std::move(completion)] {
    bool granted = false;
    try {
      if (authorizationStatus() == AuthorizationStatus::kNotDetermined)
        (void)createRoot(root_, madeBelow_);  // the status tells
      granted = authorizationStatus() == AuthorizationStatus::kAuthorized;
    } catch (const std::exception&) {
      granted = false;  // out of memory: the caller must still be answered
    }
    completion(granted);
  });
}

std::vector<ReminderList> VdirStore::reminderLists() const {
  // A folder that cannot be read shows no lists, as before.
  std::vector<ReminderList> lists;
  auto accounts = entriesOf(root_, EntryType::kDirectory);
  if (!accounts) return lists;
  for (const auto& account : accounts.value()) {
    auto names = entriesOf(root_ / account, EntryType::kDirectory);
    if (!names) continue;
    for (const auto& list : names.value())
      lists.push_back(readList(root_, account, list));
  }
  return lists;
}

std::optional<ReminderList> VdirStore::listWithIdentifier(
    const std::string& identifier) const {
  auto names = listNamesOf(root_, identifier);
  if (!names) return std::nullopt;
  return readList(root_, names->account, names->list);
}

void VdirStore::fetchReminders(const ReminderQuery& query,
                               FetchCompletion completion) {
  threads_.deliver([this, query] { return fetch(query); },
                   std::move(completion));
}

std::optional<std::vector<ReminderPtr>> VdirStore::fetch(
    const ReminderQuery& query) {
  std::vector<ListNames> lists;
  if (query.listIdentifiers) {
    for (const auto& identifier : *query.listIdentifiers) {
      auto names = listNamesOf(root_, identifier);
      if (!names) return std::nullopt;
      // A list asked for by name that cannot be read is a failed fetch,
      // not an empty one.
      if (!canOpenDirectory(root_ / names->account / names->list))
        return std::nullopt;
      lists.push_back(std::move(*names));
    }
  } else {
    struct stat info;
    if (::stat(root_.c_str(), &info) != 0) return std::vector<ReminderPtr>{};
    if (!canOpenDirectory(root_)) return std::nullopt;
    auto accounts = entriesOf(root_, EntryType::kDirectory);
    if (!accounts) return std::nullopt;
    for (const auto& account : accounts.value()) {
      auto names = entriesOf(root_ / account, EntryType::kDirectory);
      if (!names) return std::nullopt;
      for (const auto& list : names.value()) lists.push_back({account, list});
    }
  }

  ItemFiles files;
  for (const auto& [account, list] : lists)
    if (!files.addList(root_ / account / list,
                       repairUtf8(account + "/" + list)))
      return std::nullopt;
  auto reminders = files.readMatching(query);
  if (!reminders) return std::nullopt;
  remember(reminders.value());
  return std::move(reminders.value());
}

void VdirStore::remember(const std::vector<ReminderPtr>& reminders) {
  std::lock_guard guard(mutex_);
  for (const auto& reminder : reminders)
    remembered_.emplace(reminder->identifier, reminder);
}

ReminderPtr VdirStore::reminderWithIdentifier(const std::string& identifier) {
  {
    std::lock_guard guard(mutex_);
    if (auto found = remembered_.find(identifier); found != remembered_.end())
      return found->second;
  }
  auto opened = openItem(root_, identifier);
  if (!opened) return nullptr;
  auto read =
      readStampedFile(opened.value().list.get(), opened.value().fileName);
  if (!read) return nullptr;
  ReminderPtr reminder =
      reminderOf(read.value().bytes, opened.value().listIdentifier, identifier);
  if (!reminder) return nullptr;
  std::lock_guard guard(mutex_);
  remembered_.emplace(reminder->identifier, reminder);
  read_[identifier] = ReadItem{
      std::make_shared<const Descriptor>(std::move(opened.value().list)),
      std::move(opened.value().fileName), read.value().stamp};
  return reminder;
}

Result<VdirStore::Changeable> VdirStore::readForChange(
    const Reminder& reminder) {
  std::optional<ReadItem> item;
  {
    std::lock_guard guard(mutex_);
    if (auto found = read_.find(reminder.identifier); found != read_.end())
      item = found->second;
  }
  if (!item) {
    // Read by a fetch, which keeps no folder open: found here, once.
    auto opened = openItem(root_, reminder.identifier);
    if (!opened) return Failure{opened.reason()};
    item = ReadItem{
        std::make_shared<const Descriptor>(std::move(opened.value().list)),
        std::move(opened.value().fileName), std::nullopt};
  }
  auto current = readStampedFile(item->list->get(), item->fileName);
  if (!current) return Failure{current.reason()};
  if (item->stamp && *item->stamp != current.value().stamp)
    return Failure{"The reminder was changed by another program after corvane "
                   "read it; nothing was written."};
  return Changeable{std::move(*item), std::move(current.value())};
}

void VdirStore::forget(const std::string& identifier) {
  std::lock_guard guard(mutex_);
  // Last: `identifier` may be the remembered reminder's own.
  read_.erase(identifier);
  remembered_.erase(identifier);
}

Outcome VdirStore::setCompleted(const Reminder& reminder, bool completed) {
  auto changeable = readForChange(reminder);
  if (!changeable) return Failure{changeable.reason()};
  const auto& [item, current] = changeable.value();
  removeStaleTemporaries(item.list->get(), clock_());
  if (completed) {
    const std::string uid = newUid();
    auto move = completeOccurrence(current.bytes, uid, clock_());
    if (!move) return Failure{move.reason()};
    if (move.value()) {
      Outcome written = writeSeriesMove(item.list->get(), item.fileName,
                                        current, *move.value(), uid);
      forget(reminder.identifier);
      return written;
    }
  }
  auto edited = withCompletion(current.bytes, completed, clock_());
  if (!edited) return Failure{edited.reason()};
  Outcome written =
      replaceFile(item.list->get(), item.fileName, current, edited.value());
  forget(reminder.identifier);
  return written;
}

Outcome VdirStore::removeReminder(const Reminder& reminder) {
  auto changeable = readForChange(reminder);
  if (!changeable) return Failure{changeable.reason()};
  const auto& [item, current] = changeable.value();
  // The identifier names the whole file; what else it holds would go too.
  if (std::size_t others = countOtherItems(current.bytes); others > 0)
    return Failure{"The reminder's file also holds " + std::to_string(others) +
                   (others == 1 ? " other item" : " other items") +
                   ", which would be deleted with it; nothing was deleted."};
  removeStaleTemporaries(item.list->get(), clock_());
  Outcome removed = removeFile(item.list->get(), item.fileName, current);
  forget(reminder.identifier);
  return removed;
}

std::unique_ptr<ReminderStore> makeVdirStore(Clock clock) {
  return std::make_unique<VdirStore>(VdirStore::defaultLocation(),
                                     std::move(clock));
}

}  // namespace corvane
