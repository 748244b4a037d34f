// Reading and changing item files so that a change never overwrites what
// another program wrote in the meantime, and a crash at any moment leaves
// each item file wholly old or wholly new. Every call works on a name
// inside a folder that the caller opened once: nothing here walks a path,
// so a folder swapped for a link cannot lead a change elsewhere.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "store/instant.h"
#include "store/result.h"

namespace corvane {

// Identifies one state of a file: which file it is and when it last
// changed. Equal stamps mean that nobody wrote, replaced or re-permissioned
// the file in between.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNanoseconds = 0;
  std::int64_t changedNanoseconds = 0;

  bool operator==(const FileStamp&) const = default;
};

// The stamp of a file whose status this is.
FileStamp stampOf(const struct stat& status);

struct StampedContents {
  std::string bytes;
  FileStamp stamp;  // the state the bytes were read from
};

// The one reader of item files. Reads the whole file `name` in the open
// folder `folder` into `bytes`, whose memory is reused from one call to the
// next (a fetch reads thousands of files through one). A symbolic link is
// not followed: an item is a file of the store itself. `folder` may be
// AT_FDCWD with a path as `name` (a fetch of more lists than it keeps
// open). Fails, with `bytes` meaningless, for a file that is missing,
// unreadable, not a regular file or larger than any calendar object. With
// `stamp`, also the state the bytes were read from: a file that changed
// while it was read is read again, and one that kept changing fails.
Outcome readItemFile(int folder, const char* name, std::string& bytes,
                     FileStamp* stamp = nullptr);

// The whole file `name` in the open folder `folder`, and its stamp, as
// readItemFile reads them.
Result<StampedContents> readStampedFile(int folder, const std::string& name);

// The moments inside replaceFile at which a crash is survivable; tests use
// them to stop a writer half way or to let another program in.
enum class ReplaceStep {
  kTemporaryCreated,
  kHalfWritten,
  kWritten,
  kSynced,
  kChecked,
  kRenamed,
};
using ReplaceStepHook = std::function<void(ReplaceStep)>;

// Replaces the contents of `name` in `folder` with `contents`, keeping its
// name, permission bits, extended attributes (ACLs among them) and, where
// this process may, its owner. The new bytes go to a hidden temporary file
// beside it, flushed, which is then exchanged with the item in one step;
// when what came out is not exactly the file that was `read` (another
// program replaced or rewrote it meanwhile), the two are exchanged back and
// the change is refused. Also refused, with the folder as it was: a
// symbolic link or other non-regular file, a file whose mode bits do not
// let this process write it, a file with more than one name (hard links,
// which a replacement would part), and any failing step. The reason is
// plain English. `atStep` is called after each step when set.
Outcome replaceFile(int folder, const std::string& name,
                    const StampedContents& read, std::string_view contents,
                    const ReplaceStepHook& atStep = {});

// Removes `name` from `folder`, unless it is not exactly the file that was
// `read`, is a symbolic link or not a regular file, or its mode bits do not
// let this process write it. The file is first moved aside under a hidden
// name and checked there, so another program's newer file is put back, not
// deleted.
Outcome removeFile(int folder, const std::string& name,
                   const StampedContents& read);

// Writes `contents` as a new file `name` in `folder` with permission bits
// `mode`: flushed under a hidden name, then given its name only if nothing
// has that name yet. Returns the new file's stamp, so that removeFile with
// these contents and that stamp takes it away again.
Result<FileStamp> createNewFile(int folder, const std::string& name,
                                std::string_view contents, mode_t mode);

// Removes the hidden temporary files that corvane's own writers left in
// `folder` when they were killed, once they have not changed for a day (a
// writer still at work, or a file it just moved aside, changed moments ago;
// the change time is taken since a rename keeps the modification time).
// Failures are ignored.
void removeStaleTemporaries(int folder, Instant now);

}  // namespace corvane
