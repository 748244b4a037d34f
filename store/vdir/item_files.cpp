#include "store/vdir/item_files.h"

#include <fcntl.h>

#include <atomic>

#include "store/system/descriptor_wait.h"
#include "store/system/share_among_cores.h"
#include "store/vdir/item_reader.h"
#include "store/vdir/vdir_layout.h"

namespace corvane {

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

Outcome ItemFiles::readAll(ItemVisitor& visitor) const {
  // Reading and parsing is the whole cost of a query; spread it over the
  // machine's cores, each taking the next file in turn.
  std::atomic<bool> stopped{false}, outOfMemory{false};
  shareAmongCores(files_.size(), 16, [&](NextIndex& next) {
    try {
      Reader reader;
      for (std::size_t i; next.take(i);) {
        Outcome read = readFile(i, reader);
        if (read && !visitor.wants(reader.bytes)) continue;
        const List& list = lists_[files_[i].list];
        bool goesOn =
            read ? visitor.item(i, reader.bytes, list.identifier,
                                itemIdentifier(list.identifier,
                                               std::string(nameViewOf(i))))
                 : visitor.failed(read.failure(), false);
        if (!goesOn) {
          stopped = true;
          next.stop();
          return;
        }
      }
    } catch (const std::exception&) {
      // Out of memory, most likely: the fetch as a whole fails, said once
      // the memory that the other threads hold is free again.
      outOfMemory = true;
      next.stop();
    }
  });
  if (outOfMemory)
    return Failure{"There is not enough memory.", FailureKind::kNoMemory};
  if (stopped)
    return Failure{"The lists could not be read whole.",
                   FailureKind::kUnavailable};
  return done();
}

}  // namespace corvane
