// The hidden files that corvane's writers work in beside an item: their
// names, the file that is removed again unless its writer keeps it, and
// the sweep of those a killed writer left behind.
#pragma once

#include <string>
#include <string_view>

#include "store/instant.h"
#include "store/result.h"
#include "store/system/descriptor.h"

namespace corvane {

// A fresh hidden name for a file that will become, or has just been,
// `name`: it starts with "." and does not end in ".ics", so no reader of
// the list takes it, or a copy left by a crash, for an item.
std::string temporaryName(const std::string& name);

// Whether `entry` has the form of the names temporaryName makes.
bool isTemporaryName(std::string_view entry);

// A file under a temporary name in an open folder, removed when this goes
// out of scope unless kept: a failure at any step leaves nothing behind
// that the sweep would have to find.
class TemporaryFile {
 public:
  TemporaryFile(int folder, std::string name, Descriptor fd)
      : folder_(folder), name_(std::move(name)), fd_(std::move(fd)) {}
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  ~TemporaryFile();

  const std::string& name() const { return name_; }
  Descriptor& descriptor() { return fd_; }
  // The name now holds something that must stay.
  void keep() { name_.clear(); }

 private:
  int folder_;
  std::string name_;
  Descriptor fd_;
};

// A new, empty temporary file for `name` in `folder`, open for writing
// and readable by its owner alone until its writer says otherwise.
Result<TemporaryFile> createTemporary(int folder, const std::string& name);

// Removes the temporary files that corvane's own writers left in `folder`
// when they were killed, once they have not changed for a day (a writer
// still at work, or a file it just moved aside, changed moments ago; the
// change time is taken since a rename keeps the modification time).
// Failures are ignored.
void removeStaleTemporaries(int folder, Instant now);

}  // namespace corvane
