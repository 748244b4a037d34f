// The read of a fetch: the item files of the lists it covers, listed
// compactly, then read and handed on on the machine's cores.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/items/item_backend.h"
#include "store/result.h"
#include "store/system/descriptor.h"

namespace corvane {

// The item files a fetch reads, in store order. A store of 100,000 items
// lists 100,000 files, so they are kept compact: the names side by side in
// one text, each file a list number and a place in that text.
class ItemFiles {
 public:
  ItemFiles() = default;
  ItemFiles(const ItemFiles&) = delete;
  ItemFiles& operator=(const ItemFiles&) = delete;

  // Lists the item files of the list folder `directory`, whose identifier
  // is `identifier`, after those listed before. Fails as itemFilesOf does;
  // a folder that is not there or may not be read lists nothing.
  Outcome addList(const std::filesystem::path& directory,
                  std::string identifier);

  // Hands each listed file's bytes to `visitor`, its place in the order
  // listed as its position, and each file that could not be read, with the
  // failure's kind, as a failed item (no item, gone meanwhile, refused, an
  // input/output error, no descriptor within a bounded wait for one).
  // Fails when the visitor stopped the read or memory ran out. The read
  // holds at most two descriptors per thread, and one while descriptors
  // are scarce.
  Outcome readAll(ItemVisitor& visitor) const;

 private:
  struct List {
    std::string directory;
    std::string identifier;
  };
  struct File {
    uint32_t list;
    uint32_t nameStart, nameLength;
  };
  // What one thread reads with, reused from file to file: the bytes, the
  // whole path of a file, and the folder of the list it is in.
  struct Reader {
    std::string bytes, path;
    std::size_t list = SIZE_MAX;
    Descriptor folder;
    bool scarce = false;  // descriptors ran out once: files by path only
  };

  // Reads one listed file into `reader.bytes`, waiting a bounded time for
  // a descriptor where none is free.
  Outcome readFile(std::size_t file, Reader& reader) const;
  const char* nameOf(std::size_t file) const {
    return names_.c_str() + files_[file].nameStart;
  }
  std::string_view nameViewOf(std::size_t file) const {
    return {nameOf(file), files_[file].nameLength};
  }

  std::vector<List> lists_;
  std::vector<File> files_;
  std::string names_;
};

}  // namespace corvane
