// The one reader of item files, for a fetch and for a change alike: the
// whole file, and the state it was read in, refusing what no calendar
// program writes before any parser sees it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "store/result.h"

namespace corvane {

// Identifies one state of a file: which file it is, when it last changed,
// and who may do what with it. Equal stamps mean that nobody wrote,
// replaced or re-permissioned the file in between.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNanoseconds = 0;
  std::int64_t changedNanoseconds = 0;
  std::uint32_t mode = 0;  // type and permission bits
  std::uint32_t owner = 0;
  std::uint32_t group = 0;

  bool operator==(const FileStamp&) const = default;
};

// The stamp of a file whose status this is.
FileStamp stampOf(const struct stat& status);

// Whether two stamps are of one file in one state as far as a rename
// leaves it: everything but the change time, which a rename moves on.
// What corvane itself renames into place is compared so.
inline bool sameButRenamed(FileStamp a, const FileStamp& b) {
  a.changedNanoseconds = b.changedNanoseconds;
  return a == b;
}

struct StampedContents {
  std::string bytes;
  FileStamp stamp;  // the state the bytes were read from
};

// Reads the whole file `name` in the open folder `folder` into `bytes`,
// whose memory is reused from one call to the next (a fetch reads
// thousands of files through one). A symbolic link is not followed: an
// item is a file of the store itself. `folder` may be AT_FDCWD with a path
// as `name`. With `stamp`, also the state the bytes were read from: a file
// that changed while it was read is read again, and one that kept changing
// fails. Fails, with `bytes` meaningless, as the system does (kind and
// reason from the error; kExhausted when no descriptor was to be had, which
// is not waited for here, so that a caller holding descriptors of its own
// may let go of them first), and with kNotFound for a file that is not an
// item: not a regular file, larger than any calendar object, or its
// components nested deeper than any calendar program nests them (a parser
// that recurses would run out of stack).
Outcome readItemFile(int folder, const char* name, std::string& bytes,
                     FileStamp* stamp = nullptr);

// The whole file `name` in the open folder `folder`, and its stamp, as
// readItemFile reads them; waits a bounded time for a descriptor where
// none is free.
Result<StampedContents> readStampedFile(int folder, const std::string& name);

}  // namespace corvane
