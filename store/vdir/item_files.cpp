#include "store/vdir/item_files.h"

#include <fcntl.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "store/ical/item_parser.h"
#include "store/system/descriptor_wait.h"
#include "store/system/share_among_cores.h"
#include "store/vdir/item_reader.h"
#include "store/vdir/vdir_layout.h"

namespace corvane {
namespace {

// Whether a query can only match reminders that have a due date, so that
// files without a DUE need not be parsed.
bool needsDueDate(const ReminderQuery& query) {
  return query.dueDateOnly || query.incompleteDueOnly;
}

// Whether a file that could not be read is simply not one of the user's
// reminders: no item, gone since the folder was listed, or not readable by
// this process (as a list it may not read is not one of the user's).
bool isLeftOut(FailureKind kind) {
  return kind == FailureKind::kNotFound || kind == FailureKind::kDenied;
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

Outcome ItemFiles::addList(const std::filesystem::path& directory,
                           std::string identifier) {
  auto names = itemFilesOf(directory);
  if (!names) return names.failure();
  auto list = static_cast<uint32_t>(lists_.size());
  lists_.push_back({directory.string(), std::move(identifier)});
  for (const auto& name : names.value()) {
    files_.push_back({list, static_cast<uint32_t>(names_.size()),
                      static_cast<uint32_t>(name.size())});
    names_ += name;
    names_ += '\0';
  }
  return done();
}

Outcome ItemFiles::readFile(std::size_t file, Reader& reader) const {
  const List& list = lists_[files_[file].list];
  // Items are opened relative to their folder, which spares the system
  // walking the whole path again for each; the files of a list come one
  // after another, so each thread opens a list's folder about once.
  if (files_[file].list != reader.list && !reader.scarce) {
    reader.list = files_[file].list;
    reader.folder =
        Descriptor(::open(list.directory.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  }
  DescriptorWait wait;
  for (;;) {
    Outcome outcome = done();
    if (reader.folder.valid()) {
      outcome = readItemFile(reader.folder.get(), nameOf(file), reader.bytes);
    } else {
      reader.path.assign(list.directory).append("/").append(nameViewOf(file));
      outcome = readItemFile(AT_FDCWD, reader.path.c_str(), reader.bytes);
    }
    if (outcome || outcome.kind() != FailureKind::kExhausted) return outcome;
    // Few descriptors for many threads: each holds only the one of the file
    // it reads, so that every thread waiting gets its turn.
    reader.scarce = true;
    reader.folder.reset();
    if (!wait.pause()) return outcome;
  }
}

Result<std::vector<ReminderPtr>> ItemFiles::readMatching(
    const ReminderQuery& query) const {
  // Reading, parsing and matching is the whole cost of a query; spread it
  // over the machine's cores, each taking the next file in turn.
  std::vector<ReminderPtr> read(files_.size());
  const bool dueDateOnly = needsDueDate(query);
  std::mutex failed;
  std::optional<Failure> failure;
  std::atomic<bool> outOfMemory{false};
  shareAmongCores(files_.size(), 16, [&](NextIndex& next) {
    try {
      Reader reader;
      for (std::size_t i; next.take(i);) {
        Outcome outcome = readFile(i, reader);
        if (!outcome) {
          if (isLeftOut(outcome.kind())) continue;
          std::lock_guard guard(failed);
          if (!failure) failure = outcome.failure();
          next.stop();
          return;
        }
        if (dueDateOnly && !mayHaveDueDate(reader.bytes)) continue;
        const List& list = lists_[files_[i].list];
        ReminderPtr reminder = reminderOf(
            reader.bytes, list.identifier,
            itemIdentifier(list.identifier, std::string(nameViewOf(i))));
        if (reminder && matches(*reminder, query))
          read[i] = std::move(reminder);
      }
    } catch (const std::exception&) {
      // Out of memory, most likely: the fetch as a whole fails, said once
      // the memory that the other threads hold is free again.
      outOfMemory = true;
      next.stop();
    }
  });
  if (failure) return *failure;
  if (outOfMemory)
    return Failure{"There is not enough memory.", FailureKind::kNoMemory};

  std::vector<ReminderPtr> result;
  for (auto& reminder : read)
    if (reminder) result.push_back(std::move(reminder));
  return result;
}

}  // namespace corvane
