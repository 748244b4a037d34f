#include "store/vdir/item_files.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "store/vdir/file_replace.h"
#include "store/vdir/vdir_layout.h"

namespace corvane {
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

bool ItemFiles::visit(size_t file, ItemVisitor& visitor, std::string& bytes,
                      std::string& path) const {
  const auto& list = lists_[files_[file].list];
  Outcome read = done();
  if (list.fd.valid()) {
    read = readItemFile(list.fd.get(), nameOf(file), bytes);
  } else {
    path.assign(list.directory).append("/").append(nameViewOf(file));
    read = readItemFile(AT_FDCWD, path.c_str(), bytes);
  }
  if (!read) return visitor.failed(read.failure(), false);
  return visitor.item(
      file, bytes, list.identifier,
      itemIdentifier(list.identifier, std::string(nameViewOf(file))));
}

Outcome ItemFiles::readAll(ItemVisitor& visitor) const {
  // Reading and parsing is the whole cost of a query; spread it over the
  // machine's cores, each taking the next file in turn.
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    try {
      std::string bytes, path;  // reused for every file this thread reads
      for (size_t i = next++; i < files_.size(); i = next++) {
        if (!visit(i, visitor, bytes, path)) {
          failed = true;
          next = files_.size();
        }
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
  if (failed) return Failure{"The lists could not be read whole."};
  return done();
}

}  // namespace corvane
