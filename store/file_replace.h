// Reading and changing item files so that a change never overwrites what
// another program wrote in the meantime, and a crash at any moment leaves
// each item file wholly old or wholly new.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

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

// The whole file and its stamp, read through one descriptor. A symbolic
// link is followed. Fails for a file that is missing, unreadable or not a
// regular file, or that kept changing while it was read.
Result<StampedContents> readStampedFile(const std::filesystem::path& path);

// The moments inside replaceFile at which a crash is survivable; tests use
// them to stop a writer half way.
enum class ReplaceStep {
  kTemporaryCreated,
  kHalfWritten,
  kWritten,
  kSynced,
  kChecked,
  kRenamed,
};
using ReplaceStepHook = std::function<void(ReplaceStep)>;

// Replaces the file's contents with `contents`, keeping its name, permission
// bits and (where this process may) its owner. The new bytes are written to
// a hidden temporary file beside it, flushed, and renamed over the original.
// Fails, leaving the original and its folder as they were, when the file's
// current stamp is not `expected`, when it is a symbolic link or not a
// regular file, or when any step fails; the reason is plain English.
// `atStep` is called after each step when set.
Outcome replaceFile(const std::filesystem::path& path,
                    std::string_view contents, const FileStamp& expected,
                    const ReplaceStepHook& atStep = {});

// Removes the file, unless its current stamp is not `expected` or it is a
// symbolic link or not a regular file.
Outcome removeFile(const std::filesystem::path& path,
                   const FileStamp& expected);

}  // namespace corvane
