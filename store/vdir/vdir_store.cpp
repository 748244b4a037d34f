#include "store/vdir/vdir_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>

#include "store/ical/completion_edit.h"
#include "store/ical/item_parser.h"
#include "store/ical/other_items.h"
#include "store/ical/series_move.h"
#include "store/utf8.h"
#include "store/vdir/authorization.h"
#include "store/vdir/descriptor.h"
#include "store/vdir/make_vdir_store.h"

namespace corvane {
namespace {

// Larger files are not calendar objects anyone keeps a reminder in.
constexpr off_t kMaxItemBytes = off_t{256} << 20;

// Reads the item file `name` (relative to the folder `dirFd`, or a whole
// path with AT_FDCWD) into `bytes`, whose memory is reused from one file to
// the next. False, with `bytes` meaningless, when the file cannot be read
// whole. Symbolic links are not followed: an item is a file of the store
// itself.
bool readItem(int dirFd, const char* name, std::string& bytes,
              FileStamp* stamp = nullptr) {
  Descriptor fd(
      ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid()) return false;
  struct stat info;
  bool whole = false;
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_size <= kMaxItemBytes) {
    // One byte more than the file holds: a read that stops short of it at
    // the size the file had is at its end, which spares a store of 10,000
    // items as many reads that only find the end. A file that grew
    // meanwhile fills the extra byte and is read on to its new end.
    const auto size = static_cast<size_t>(info.st_size);
    bytes.resize(size + 1);
    size_t filled = 0;
    while (true) {
      if (filled == bytes.size()) bytes.resize(bytes.size() + 4096);
      ssize_t got =
          ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      filled += static_cast<size_t>(got);
      if (got == 0 || (filled == size && bytes.size() == size + 1)) {
        bytes.resize(filled);
        whole = true;
        break;
      }
      if (filled > static_cast<size_t>(kMaxItemBytes)) break;
    }
  }
  if (whole && stamp) *stamp = stampOf(info);
  return whole;
}

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
  // The occurrence is as private as the series it comes from.
  struct stat series;
  mode_t mode = ::fstatat(folder, seriesName.c_str(), &series,
                          AT_SYMLINK_NOFOLLOW) == 0
                    ? series.st_mode & 0777
                    : 0600;
  Result<FileStamp> added = createNewFile(folder, name, move.occurrence, mode);
  if (!added) return Failure{added.reason()};
  Outcome moved = replaceFile(folder, seriesName, read, move.series);
  if (!moved)
    removeFile(folder, name, StampedContents{move.occurrence, added.value()});
  return moved;
}

// Whether a query can only match reminders that have a due date, so that
// files without a DUE need not be parsed.
bool needsDueDate(const ReminderQuery& query) {
  return query.dueDateOnly || query.incompleteDueOnly;
}

ReminderPtr reminderOf(std::string_view bytes, const std::string& listIdentifier,
                       std::string identifier) {
  auto reminder = parseReminder(bytes);
  if (!reminder) return nullptr;
  reminder->identifier = std::move(identifier);
  reminder->calendarIdentifier = listIdentifier;
  return std::make_shared<const Reminder>(std::move(*reminder));
}

bool canOpenDirectory(const std::filesystem::path& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  ::closedir(dir);
  return true;
}

// The item files a fetch reads, in store order. A store of 100,000 items
// lists 100,000 files, so they are kept compact: the names side by side in
// one text, each file a list number and a place in that text.
class ItemFiles {
 public:
  struct List {
    std::string directory;
    std::string identifier;
    Descriptor fd;  // the open folder, or none to open items by whole path
  };
  struct File {
    uint32_t list;
    uint32_t nameStart, nameLength;
  };

  ItemFiles() = default;
  ItemFiles(const ItemFiles&) = delete;
  ItemFiles& operator=(const ItemFiles&) = delete;

  void addList(const std::filesystem::path& directory, std::string identifier) {
    // Items are opened relative to their folder, which spares the system
    // walking the whole path again for each; a store with very many lists
    // opens them by path instead of holding a descriptor for each.
    Descriptor fd;
    if (lists_.size() < kMaxOpenLists)
      fd = Descriptor(::open(directory.c_str(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    auto list = static_cast<uint32_t>(lists_.size());
    lists_.push_back(
        {directory.string(), std::move(identifier), std::move(fd)});
    for (const auto& name : itemFilesOf(directory)) {
      files_.push_back({list, static_cast<uint32_t>(names_.size()),
                        static_cast<uint32_t>(name.size())});
      names_ += name;
      names_ += '\0';
    }
  }

  size_t size() const { return files_.size(); }
  const List& listOf(size_t file) const { return lists_[files_[file].list]; }
  const char* nameOf(size_t file) const {
    return names_.c_str() + files_[file].nameStart;
  }
  std::string_view nameViewOf(size_t file) const {
    return {nameOf(file), files_[file].nameLength};
  }

 private:
  static constexpr size_t kMaxOpenLists = 256;
  std::vector<List> lists_;
  std::vector<File> files_;
  std::string names_;
};

// Reads and parses one listed file; null when it cannot be read, holds no
// reminder, or (for `dueDateOnly`) cannot hold a due date.
ReminderPtr readListed(const ItemFiles& files, size_t file, bool dueDateOnly,
                       std::string& bytes, std::string& path) {
  const auto& list = files.listOf(file);
  bool read;
  if (list.fd.valid()) {
    read = readItem(list.fd.get(), files.nameOf(file), bytes);
  } else {
    path.assign(list.directory).append("/").append(files.nameViewOf(file));
    read = readItem(AT_FDCWD, path.c_str(), bytes);
  }
  if (!read || (dueDateOnly && !mayHaveDueDate(bytes))) return nullptr;
  return reminderOf(bytes, list.identifier,
                    itemIdentifier(list.identifier, std::string(files.nameViewOf(file))));
}

}  // namespace

VdirStore::VdirStore(std::filesystem::path root,
                     std::filesystem::path madeBelow, Clock clock)
    : root_(std::move(root)),
      madeBelow_(madeBelow.empty() ? root_.parent_path()
                                   : std::move(madeBelow)),
      clock_(std::move(clock)) {}

VdirStore::~VdirStore() {
  std::vector<std::thread> threads;
  {
    std::lock_guard guard(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

AuthorizationStatus VdirStore::authorizationStatus() const {
  return authorizationStatusOf(root_, madeBelow_);
}

void VdirStore::requestAccess(AccessCompletion completion) {
  std::lock_guard guard(mutex_);
  threads_.emplace_back([this, completion = std::move(completion)] {
    bool granted = false;
    try {
      if (authorizationStatus() == AuthorizationStatus::kNotDetermined)
        createRoot(root_, madeBelow_);
      granted = authorizationStatus() == AuthorizationStatus::kAuthorized;
    } catch (const std::exception&) {
      granted = false;  // out of memory: the caller must still be answered
    }
    completion(granted);
  });
}

std::vector<ReminderList> VdirStore::reminderLists() const {
  std::vector<ReminderList> lists;
  for (const auto& account : entriesOf(root_, EntryType::kDirectory))
    for (const auto& list : entriesOf(root_ / account, EntryType::kDirectory))
      lists.push_back(readList(root_, account, list));
  return lists;
}

std::optional<ReminderList> VdirStore::listWithIdentifier(
    const std::string& identifier) const {
  auto names = listNamesOf(root_, identifier);
  if (!names || !isRealDirectory(root_ / names->account) ||
      !isRealDirectory(root_ / names->account / names->list))
    return std::nullopt;
  return readList(root_, names->account, names->list);
}

void VdirStore::fetchReminders(const ReminderQuery& query,
                               FetchCompletion completion) {
  std::lock_guard guard(mutex_);
  threads_.emplace_back([this, query, completion = std::move(completion)] {
    std::optional<std::vector<ReminderPtr>> reminders;
    try {
      reminders = fetch(query);
    } catch (const std::exception&) {
      reminders.reset();  // a fetch that could not finish delivers nothing
    }
    completion(std::move(reminders));
  });
}

std::optional<std::vector<ReminderPtr>> VdirStore::fetch(
    const ReminderQuery& query) {
  // The lists to read, as (account, list) directory names.
  std::vector<std::pair<std::string, std::string>> lists;
  if (query.listIdentifiers) {
    for (const auto& identifier : *query.listIdentifiers) {
      auto names = listNamesOf(root_, identifier);
      if (!names) return std::nullopt;
      lists.emplace_back(names->account, names->list);
      const auto& [account, list] = lists.back();
      if (!isRealDirectory(root_ / account) ||
          !isRealDirectory(root_ / account / list))
        return std::nullopt;
      // A list asked for by name that cannot be read is a failed fetch,
      // not an empty one.
      if (!canOpenDirectory(root_ / lists.back().first / lists.back().second))
        return std::nullopt;
    }
  } else {
    struct stat info;
    if (::stat(root_.c_str(), &info) != 0) return std::vector<ReminderPtr>{};
    if (!canOpenDirectory(root_)) return std::nullopt;
    for (const auto& account : entriesOf(root_, EntryType::kDirectory))
      for (const auto& list : entriesOf(root_ / account, EntryType::kDirectory))
        lists.emplace_back(account, list);
  }

  ItemFiles files;
  for (const auto& [account, list] : lists)
    files.addList(root_ / account / list, repairUtf8(account + "/" + list));

  // Reading, parsing and matching is the whole cost of a query; spread it
  // over the machine's cores, each taking the next file in turn.
  std::vector<ReminderPtr> read(files.size());
  std::atomic<size_t> next{0};
  const bool dueDateOnly = needsDueDate(query);
  std::atomic<bool> failed{false};
  auto work = [&] {
    try {
      std::string bytes, path;  // reused for every file this thread reads
      for (size_t i = next++; i < files.size(); i = next++) {
        ReminderPtr reminder = readListed(files, i, dueDateOnly, bytes, path);
        if (reminder && matches(*reminder, query)) read[i] = std::move(reminder);
      }
    } catch (const std::exception&) {
      failed = true;  // out of memory: the fetch as a whole fails
      next = files.size();
    }
  };
  size_t workers = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  workers = std::min(workers, std::max<size_t>(1, files.size() / 16));
  std::vector<std::thread> helpers;
  helpers.reserve(workers);  // growing it later could throw past a running thread
  try {
    for (size_t i = 1; i < workers; ++i) helpers.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than asked for: those started and this one share the
    // files all the same.
  }
  work();
  for (auto& helper : helpers) helper.join();
  if (failed) return std::nullopt;

  std::vector<ReminderPtr> result;
  for (auto& reminder : read)
    if (reminder) result.push_back(std::move(reminder));
  remember(result);
  return result;
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
  std::string bytes;
  FileStamp stamp;
  if (!readItem(opened.value().list.get(), opened.value().fileName.c_str(),
                bytes, &stamp))
    return nullptr;
  ReminderPtr reminder =
      reminderOf(bytes, opened.value().listIdentifier, identifier);
  if (!reminder) return nullptr;
  std::lock_guard guard(mutex_);
  remembered_.emplace(reminder->identifier, reminder);
  read_[identifier] = ReadItem{
      std::make_shared<const Descriptor>(std::move(opened.value().list)),
      std::move(opened.value().fileName), stamp};
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
