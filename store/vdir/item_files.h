// The read of a fetch: the item files of the lists it covers, listed
// compactly, then read, parsed and matched on the machine's cores.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/reminder_store.h"
#include "store/vdir/descriptor.h"

namespace corvane {

// The reminder that the bytes of an item file hold, kept in the list
// `listIdentifier` under `identifier`; null when they hold none.
ReminderPtr reminderOf(std::string_view bytes,
                       const std::string& listIdentifier,
                       std::string identifier);

// The item files a fetch reads, in store order. A store of 100,000 items
// lists 100,000 files, so they are kept compact: the names side by side in
// one text, each file a list number and a place in that text.
class ItemFiles {
 public:
  ItemFiles() = default;
  ItemFiles(const ItemFiles&) = delete;
  ItemFiles& operator=(const ItemFiles&) = delete;

  // Lists the item files of the list folder `directory`, whose identifier
  // is `identifier`, after those listed before.
  void addList(const std::filesystem::path& directory, std::string identifier);

  // The reminders of the listed files that match `query` (whatever its
  // lists), in the order listed. A file that cannot be read or holds no
  // reminder is left out. Absent when the read ran out of memory.
  std::optional<std::vector<ReminderPtr>> readMatching(
      const ReminderQuery& query) const;

 private:
  struct List {
    std::string directory;
    std::string identifier;
    Descriptor fd;  // the open folder, or none to open items by whole path
  };
  struct File {
    uint32_t list;
    uint32_t nameStart, nameLength;
  };

  // Reads and parses one listed file; null when it cannot be read, holds
  // no reminder, or (for `dueDateOnly`) cannot hold a due date. `bytes`
  // and `path` are the calling thread's, reused from file to file.
  ReminderPtr reminderIn(size_t file, bool dueDateOnly, std::string& bytes,
                         std::string& path) const;
  const char* nameOf(size_t file) const {
    return names_.c_str() + files_[file].nameStart;
  }
  std::string_view nameViewOf(size_t file) const {
    return {nameOf(file), files_[file].nameLength};
  }

  static constexpr size_t kMaxOpenLists = 256;
  std::vector<List> lists_;
  std::vector<File> files_;
  std::string names_;
};

}  // namespace corvane
