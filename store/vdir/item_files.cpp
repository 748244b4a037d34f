#include "store/vdir/item_files.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "store/ical/item_parser.h"
#include "store/vdir/file_replace.h"
#include "store/vdir/vdir_layout.h"

namespace corvane {
namespace {

// Whether a query can only match reminders that have a due date, so that
// files without a DUE need not be parsed.
bool needsDueDate(const ReminderQuery& query) {
  return query.dueDateOnly || query.incompleteDueOnly;
}

}  // namespace

ReminderPtr reminderOf(std::string_view bytes,
                       const std::string& listIdentifier,
                       std::string identifier) {
  auto reminder = parseReminder(bytes);
  if (!reminder) return nullptr;
  reminder->identifier = std::move(identifier);
  reminder->calendarIdentifier = listIdentifier;
  return std::make_shared<const Reminder>(std::move(*reminder));
}

void ItemFiles::addList(const std::filesystem::path& directory,
                        std::string identifier) {
  // Items are opened relative to their folder, which spares the system
  // walking the whole path again for each; a store with very many lists
  // opens them by path instead of holding a descriptor for each.
  Descriptor fd;
  if (lists_.size() < kMaxOpenLists)
    fd = Descriptor(::open(directory.c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  auto list = static_cast<uint32_t>(lists_.size());
  lists_.push_back({directory.string(), std::move(identifier), std::move(fd)});
  for (const auto& name : itemFilesOf(directory)) {
    files_.push_back({list, static_cast<uint32_t>(names_.size()),
                      static_cast<uint32_t>(name.size())});
    names_ += name;
    names_ += '\0';
  }
}

ReminderPtr ItemFiles::reminderIn(size_t file, bool dueDateOnly,
                                  std::string& bytes, std::string& path) const {
  const auto& list = lists_[files_[file].list];
  bool read;
  if (list.fd.valid()) {
    read = readItemFile(list.fd.get(), nameOf(file), bytes).ok();
  } else {
    path.assign(list.directory).append("/").append(nameViewOf(file));
    read = readItemFile(AT_FDCWD, path.c_str(), bytes).ok();
  }
  if (!read || (dueDateOnly && !mayHaveDueDate(bytes))) return nullptr;
  return reminderOf(
      bytes, list.identifier,
      itemIdentifier(list.identifier, std::string(nameViewOf(file))));
}

std::optional<std::vector<ReminderPtr>> ItemFiles::readMatching(
    const ReminderQuery& query) const {
  // Reading, parsing and matching is the whole cost of a query; spread it
  // over the machine's cores, each taking the next file in turn.
  std::vector<ReminderPtr> read(files_.size());
  std::atomic<size_t> next{0};
  const bool dueDateOnly = needsDueDate(query);
  std::atomic<bool> failed{false};
  auto work = [&] {
    try {
      std::string bytes, path;  // reused for every file this thread reads
      for (size_t i = next++; i < files_.size(); i = next++) {
        ReminderPtr reminder = reminderIn(i, dueDateOnly, bytes, path);
        if (reminder && matches(*reminder, query))
          read[i] = std::move(reminder);
      }
    } catch (const std::exception&) {
      failed = true;  // out of memory: the fetch as a whole fails
      next = files_.size();
    }
  };
  size_t workers =
      std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  workers = std::min(workers, std::max<size_t>(1, files_.size() / 16));
  std::vector<std::thread> helpers;
  // Reserved, as growing it later could throw past a running thread.
  helpers.reserve(workers);
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
  return result;
}

}  // namespace corvane
