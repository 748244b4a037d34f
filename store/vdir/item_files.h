// The read of a fetch: the item files of the lists it covers, listed
// compactly, then read, parsed and matched on the machine's cores.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/items/item_backend.h"
#include "store/vdir/descriptor.h"

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
  // is `identifier`, after those listed before.
  void addList(const std::filesystem::path& directory, std::string identifier);

  // Hands each listed file's bytes to `visitor`, its place in the order
  // listed as its position, and each file that could not be read as a
  // failed item. Fails when the visitor stopped the read or memory ran out.
  Outcome readAll(ItemVisitor& visitor) const;

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

  // Reads one listed file and hands it to `visitor`; returns whether the
  // read goes on. `bytes` and `path` are the calling thread's, reused from
  // file to file.
  bool visit(size_t file, ItemVisitor& visitor, std::string& bytes,
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
