#include "store/vdir_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "store/authorization.h"
#include "store/completion_edit.h"
#include "store/item_parser.h"

namespace corvane {
namespace {

// Larger files are not calendar objects anyone keeps a reminder in.
constexpr off_t kMaxItemBytes = off_t{256} << 20;

// An item's bytes and the state of the file they were read from. Symbolic
// links are not followed: an item is a file of the store itself.
std::optional<StampedContents> readItemFile(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat info;
  std::optional<StampedContents> read;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_size <= kMaxItemBytes) {
    std::string content(static_cast<size_t>(info.st_size), '\0');
    size_t filled = 0;
    while (true) {
      if (filled == content.size()) content.resize(content.size() + 4096);
      ssize_t got = ::read(fd, content.data() + filled, content.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      if (got == 0) {
        content.resize(filled);
        read = StampedContents{std::move(content), stampOf(info)};
        break;
      }
      filled += static_cast<size_t>(got);
      if (filled > static_cast<size_t>(kMaxItemBytes)) break;
    }
  }
  ::close(fd);
  return read;
}

ReminderPtr readReminder(const std::filesystem::path& path,
                         const std::string& listIdentifier,
                         const std::string& identifier,
                         std::optional<FileStamp>* stamp = nullptr) {
  auto read = readItemFile(path);
  if (!read) return nullptr;
  auto reminder = parseReminder(read->bytes);
  if (!reminder) return nullptr;
  reminder->identifier = identifier;
  reminder->calendarIdentifier = listIdentifier;
  if (stamp) *stamp = read->stamp;
  return std::make_shared<const Reminder>(std::move(*reminder));
}

bool canOpenDirectory(const std::filesystem::path& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  ::closedir(dir);
  return true;
}

bool matches(const Reminder& reminder, const ReminderQuery& query) {
  if (!query.incompleteDueOnly) return true;
  if (reminder.isCompleted || !reminder.dueDateComponents) return false;
  auto due = resolveComponents(*reminder.dueDateComponents);
  return due && (!query.dueEnding || *due <= *query.dueEnding);
}

// One item file to read, in store order.
struct ItemFile {
  std::filesystem::path path;
  std::string listIdentifier;
  std::string identifier;
};

}  // namespace

VdirStore::VdirStore(std::filesystem::path root) : root_(std::move(root)) {}

VdirStore::~VdirStore() {
  std::vector<std::thread> threads;
  {
    std::lock_guard guard(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
}

AuthorizationStatus VdirStore::authorizationStatus() const {
  return authorizationStatusOf(root_);
}

void VdirStore::requestAccess(AccessCompletion completion) {
  std::lock_guard guard(mutex_);
  threads_.emplace_back([this, completion = std::move(completion)] {
    if (authorizationStatus() == AuthorizationStatus::kNotDetermined)
      createRoot(root_);
    completion(authorizationStatus() == AuthorizationStatus::kAuthorized);
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
  size_t slash = identifier.find('/');
  if (slash == std::string::npos) return std::nullopt;
  std::string account = identifier.substr(0, slash);
  std::string list = identifier.substr(slash + 1);
  if (!isPlainName(account) || !isPlainName(list)) return std::nullopt;
  struct stat info;
  if (::lstat((root_ / account).c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      ::lstat((root_ / account / list).c_str(), &info) != 0 ||
      !S_ISDIR(info.st_mode))
    return std::nullopt;
  return readList(root_, account, list);
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
      size_t slash = identifier.find('/');
      if (slash == std::string::npos) return std::nullopt;
      lists.emplace_back(identifier.substr(0, slash), identifier.substr(slash + 1));
      if (!isPlainName(lists.back().first) || !isPlainName(lists.back().second))
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

  std::vector<ItemFile> files;
  for (const auto& [account, list] : lists) {
    auto listDir = root_ / account / list;
    std::string listIdentifier = account + "/" + list;
    for (const auto& name : itemFilesOf(listDir))
      files.push_back(
          {listDir / name, listIdentifier, itemIdentifier(listIdentifier, name)});
  }

  // Reading and parsing is the whole cost of a query; spread it over the
  // machine's cores, each taking the next file in turn.
  std::vector<ReminderPtr> read(files.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < files.size(); i = next++) {
      read[i] = readReminder(files[i].path, files[i].listIdentifier,
                             files[i].identifier);
    }
  };
  size_t workers = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  workers = std::min(workers, std::max<size_t>(1, files.size() / 16));
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < workers; ++i) helpers.emplace_back(work);
  work();
  for (auto& helper : helpers) helper.join();

  std::vector<ReminderPtr> result;
  for (auto& reminder : read)
    if (reminder && matches(*reminder, query)) result.push_back(reminder);
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
  auto location = locateItem(root_, identifier);
  if (!location) return nullptr;
  std::optional<FileStamp> stamp;
  ReminderPtr reminder =
      readReminder(location->file, location->listIdentifier, identifier, &stamp);
  if (!reminder) return nullptr;
  std::lock_guard guard(mutex_);
  remembered_.emplace(identifier, reminder);
  if (stamp) stamps_[identifier] = *stamp;
  return reminder;
}

Result<StampedContents> VdirStore::readForChange(const Reminder& reminder) {
  auto location = locateItem(root_, reminder.identifier);
  if (!location) return Failure{"The reminder is not kept in this store."};
  struct stat info;
  if (::lstat(location->file.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
    return Failure{"The reminder's file is a symbolic link; corvane changes "
                   "only files kept in the store itself."};
  auto current = readStampedFile(location->file);
  if (!current) return current;
  // Replacing goes through a new file, which a read-only file would not
  // stop; its owner made it read-only to keep it as it is.
  if (::access(location->file.c_str(), W_OK) != 0 && errno == EACCES)
    return Failure{"The reminder's file is read-only."};
  std::lock_guard guard(mutex_);
  if (auto read = stamps_.find(reminder.identifier);
      read != stamps_.end() && read->second != current.value().stamp)
    return Failure{"The reminder was changed by another program after corvane "
                   "read it; nothing was written."};
  return current;
}

void VdirStore::forget(const std::string& identifier) {
  std::lock_guard guard(mutex_);
  remembered_.erase(identifier);
  stamps_.erase(identifier);
}

Outcome VdirStore::setCompleted(const Reminder& reminder, bool completed) {
  auto current = readForChange(reminder);
  if (!current) return Failure{current.reason()};
  auto edited = withCompletion(current.value().bytes, completed, now());
  if (!edited) return Failure{edited.reason()};
  Outcome written = replaceFile(*filePathOf(reminder), edited.value(),
                                current.value().stamp);
  forget(reminder.identifier);
  return written;
}

Outcome VdirStore::removeReminder(const Reminder& reminder) {
  auto current = readForChange(reminder);
  if (!current) return Failure{current.reason()};
  Outcome removed = removeFile(*filePathOf(reminder), current.value().stamp);
  forget(reminder.identifier);
  return removed;
}

std::optional<std::filesystem::path> VdirStore::filePathOf(
    const Reminder& reminder) const {
  auto location = locateItem(root_, reminder.identifier);
  if (!location) return std::nullopt;
  return location->file;
}

}  // namespace corvane
