#include "store/vdir/file_replace.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "store/items/conflict_failure.h"
#include "store/system/descriptor.h"
#include "store/system/system_failure.h"
#include "store/vdir/file_likeness.h"

namespace corvane {
namespace {

const Failure kChangedMeanwhile = conflictFailure(Meanwhile::kChanged);
const Failure kRemovedMeanwhile = conflictFailure(Meanwhile::kRemoved);
const Failure kChangedBeforeDelete =
    conflictFailure(Meanwhile::kChanged, "nothing was deleted.");
const Failure kRemovedBeforeDelete = conflictFailure(Meanwhile::kRemoved, "");
const Failure kSymbolicLink{
    "The reminder's file is a symbolic link; corvane changes only regular "
    "files."};
const Failure kNotRegular{"The reminder's file is not a regular file."};
const Failure kReadOnlyFolder{"The list folder is read-only.",
                              FailureKind::kReadOnly};
const Failure kReadOnlyFile{"The reminder's file is read-only.",
                            FailureKind::kReadOnly};
const Failure kHardLinked{
    "The reminder's file has more than one name (hard links); replacing it "
    "would part them, so nothing was written."};
const Failure kAlreadyThere{"A file of that name already exists in the list.",
                            FailureKind::kExists};

// The system's failure for a call on a reminder's file, in the words of
// that file where they say more.
Failure fileFailure(int error) {
  switch (error) {
    case ENOENT:
      return Failure{"The reminder's file does not exist.",
                     FailureKind::kNotFound};
    case ELOOP:
      return kSymbolicLink;
    case EROFS:
      return kReadOnlyFolder;
    default:
      return systemFailure(error);
  }
}

// For failures to change the folder's entries, where a refusal means the
// folder may not be changed.
Failure folderFailure(int error) {
  if (error == EACCES || error == EPERM || error == EROFS)
    return kReadOnlyFolder;
  return fileFailure(error);
}

// Whether the file's mode bits let this process write it: the owner's,
// group's or others' bits as they apply. Root passes every permission check
// but is held to the bits all the same: an item with no write bit at all
// was made read-only by its owner to keep it as it is.
bool modeAllowsWriting(const struct stat& status) {
  uid_t user = ::geteuid();
  if (user == 0) return (status.st_mode & 0222) != 0;
  if (user == status.st_uid) return (status.st_mode & S_IWUSR) != 0;
  bool inGroup = ::getegid() == status.st_gid;
  if (!inGroup) {
    int count = ::getgroups(0, nullptr);
    if (count > 0) {
      std::vector<gid_t> groups(static_cast<std::size_t>(count));
      count = ::getgroups(count, groups.data());
      for (int i = 0; i < count && !inGroup; ++i)
        inGroup = groups[static_cast<std::size_t>(i)] == status.st_gid;
    }
  }
  return (status.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

// The folder's own permission, asked before anything is written so that a
// list that may not be changed says so whatever its items' modes are. A
// folder marked append-only (or immutable) takes new files but refuses
// every rename and removal, so a change there would stop at its last step
// with a file it can no longer take away.
Outcome folderAllowsChanges(int folder) {
  if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0 &&
      (errno == EACCES || errno == EPERM || errno == EROFS)) {
    return kReadOnlyFolder;
  }
  int flags = 0;
  if (::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 &&
      (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
    return kReadOnlyFolder;
  }
  return done();
}

// Checks that `name` in `folder` is still the regular file that was read.
Outcome checkUnchanged(int folder, const std::string& name,
                       const FileStamp& expected, const Failure& changed,
                       const Failure& removed, struct stat* current = nullptr) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return removed;
    return fileFailure(errno);
  }
  if (S_ISLNK(status.st_mode)) return kSymbolicLink;
  if (!S_ISREG(status.st_mode)) return kNotRegular;
  if (!sameButRenamed(stampOf(status), expected)) return changed;
  if (current != nullptr) *current = status;
  return done();
}

Outcome checkName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos) {
    return Failure{"The reminder's file name is not valid."};
  }
  return done();
}

// Whether the entry `name` is exactly the file that was read: the same
// file with the same mode and owner, not written since, with the same bytes
// (which also catches a writer whose change fell within one tick of the file
// system's clock). kChanged when it is not; another failure when it cannot be
// read.
Outcome isWhatWasRead(int folder, const std::string& name,
                      const StampedContents& read) {
  Result<StampedContents> now = readStampedFile(folder, name);
  if (!now) {
    // Not a regular file, or no longer anything an item could be.
    if (now.kind() == FailureKind::kNotFound) return kChangedMeanwhile;
    return now.failure();
  }
  if (!sameButRenamed(now.value().stamp, read.stamp) ||
      now.value().bytes != read.bytes)
    return kChangedMeanwhile;
  return done();
}

// Exchanges two entries of the folder in one step; errno tells why not.
bool exchange(int folder, const std::string& a, const std::string& b) {
  return ::renameat2(folder, a.c_str(), folder, b.c_str(), RENAME_EXCHANGE) ==
         0;
}

// File systems without the exchange or no-replace flags (some network and
// FUSE ones) answer so; corvane then falls back to check-then-rename.
bool flagsUnsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == ENOTSUP;
}

// Writes and flushes the temporary's bytes. The bytes must be on disk
// before the name points at them, or a power loss could leave an empty item
// where the old one was.
Outcome fill(TemporaryFile& temporary, std::string_view contents,
             const std::function<void(ReplaceStep)>& reached) {
  int fd = temporary.descriptor().get();
  std::size_t half = contents.size() / 2;
  if (!writeAll(fd, contents.substr(0, half))) return fileFailure(errno);
  reached(ReplaceStep::kHalfWritten);
  if (!writeAll(fd, contents.substr(half))) return fileFailure(errno);
  reached(ReplaceStep::kWritten);
  if (!syncDescriptor(fd)) return fileFailure(errno);
  if (!temporary.descriptor().reset()) return fileFailure(errno);
  reached(ReplaceStep::kSynced);
  return done();
}

// The commit on a file system without exchange: the check and the rename
// are two steps, so a rename by another program between them is lost.
Outcome renameAfterCheck(int folder, TemporaryFile& temporary,
                         const std::string& name, const FileStamp& expected) {
  Outcome unchanged = checkUnchanged(folder, name, expected, kChangedMeanwhile,
                                     kRemovedMeanwhile);
  if (!unchanged) return unchanged;
  if (::renameat(folder, temporary.name().c_str(), folder, name.c_str()) != 0)
    return folderFailure(errno);
  temporary.keep();
  return done();
}

// Puts back what the exchange took out, after it turned out to be another
// program's newer file. If a third program renamed over the item in the
// instant between, its file is the latest and goes back to the name; what
// it replaced is removed with the temporary, as its rename would have done.
void exchangeBack(int folder, TemporaryFile& temporary, const std::string& name,
                  std::uint64_t ownInode) {
  if (!exchange(folder, temporary.name(), name)) {
    temporary.keep();  // another program's file is there: never remove it
    return;
  }
  struct stat status {};
  if (::fstatat(folder, temporary.name().c_str(), &status,
                AT_SYMLINK_NOFOLLOW) == 0 &&
      status.st_ino != ownInode && !exchange(folder, temporary.name(), name)) {
    temporary.keep();
  }
}

// The regular file `name` in `folder`, open for reading its attributes.
Result<Descriptor> openOriginal(int folder, const std::string& name,
                                struct stat& status) {
  Descriptor original(
      ::openat(folder, name.c_str(),
               O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (!original.valid()) {
    if (errno == ENOENT) return kRemovedMeanwhile;
    return fileFailure(errno);
  }
  if (::fstat(original.get(), &status) != 0) return fileFailure(errno);
  if (!S_ISREG(status.st_mode)) return kNotRegular;
  return original;
}

}  // namespace

Outcome replaceFile(int folder, const std::string& name,
                    const StampedContents& read, std::string_view contents,
                    const ReplaceStepHook& atStep) {
  auto reached = [&atStep](ReplaceStep step) {
    if (atStep) atStep(step);
  };
  if (Outcome valid = checkName(name); !valid) return valid;
  if (Outcome allowed = folderAllowsChanges(folder); !allowed) return allowed;
  // Checked before any work so that a stale change costs nothing; the
  // original stays open to copy its attributes from.
  struct stat status {};
  Result<Descriptor> original = openOriginal(folder, name, status);
  if (!original) return original.failure();
  if (!sameButRenamed(stampOf(status), read.stamp)) return kChangedMeanwhile;
  if (!modeAllowsWriting(status)) return kReadOnlyFile;
  if (status.st_nlink > 1) return kHardLinked;

  Result<TemporaryFile> created = createTemporary(folder, name);
  if (!created) return created.failure();
  TemporaryFile& temporary = created.value();
  int fd = temporary.descriptor().get();
  reached(ReplaceStep::kTemporaryCreated);
  if (Outcome like = copyLikeness(original.value().get(), status, fd); !like)
    return like;
  original.value().reset();
  struct stat own {};
  if (::fstat(fd, &own) != 0) return fileFailure(errno);
  if (Outcome filled = fill(temporary, contents, reached); !filled)
    return filled;

  // Another program may have written the file while corvane worked; its
  // change wins.
  Outcome unchanged = checkUnchanged(folder, name, read.stamp,
                                     kChangedMeanwhile, kRemovedMeanwhile);
  if (!unchanged) return unchanged;
  reached(ReplaceStep::kChecked);

  // The check above and the rename would be two steps, and a rename by
  // another program in between would be lost. Exchanging instead takes out
  // whatever is there at that instant, and it can be checked afterwards.
  if (!exchange(folder, temporary.name(), name)) {
    if (flagsUnsupported(errno)) {
      Outcome renamed = renameAfterCheck(folder, temporary, name, read.stamp);
      if (!renamed) return renamed;
    } else if (errno == ENOENT) {
      return kRemovedMeanwhile;
    } else {
      return folderFailure(errno);
    }
  } else if (Outcome same = isWhatWasRead(folder, temporary.name(), read);
             !same) {
    exchangeBack(folder, temporary, name, own.st_ino);
    return same;
  }
  // The temporary's name now holds the old file, removed with it.
  reached(ReplaceStep::kRenamed);
  // The new contents are in place and visible, so the change is reported as
  // made even when the folder cannot be flushed (some file systems refuse).
  (void)syncDescriptor(folder);
  return done();
}

Outcome removeFile(int folder, const std::string& name,
                   const StampedContents& read) {
  if (Outcome valid = checkName(name); !valid) return valid;
  if (Outcome allowed = folderAllowsChanges(folder); !allowed) return allowed;
  struct stat status {};
  Outcome unchanged =
      checkUnchanged(folder, name, read.stamp, kChangedBeforeDelete,
                     kRemovedBeforeDelete, &status);
  if (!unchanged) return unchanged;
  if (!modeAllowsWriting(status)) return kReadOnlyFile;

  // Moved aside first, under a hidden name no other program uses, so that
  // what is deleted can be checked to be the file that was read.
  std::string aside;
  for (int attempt = 0; attempt < 16 && aside.empty(); ++attempt) {
    std::string candidate = temporaryName(name);
    if (::renameat2(folder, name.c_str(), folder, candidate.c_str(),
                    RENAME_NOREPLACE) == 0) {
      aside = candidate;
    } else if (flagsUnsupported(errno)) {
      // Without the flag the check above and the unlink are two steps: a
      // rename by another program in between is deleted with the item.
      if (::unlinkat(folder, name.c_str(), 0) != 0) {
        if (errno == ENOENT) return kRemovedBeforeDelete;
        return folderFailure(errno);
      }
      (void)syncDescriptor(folder);
      return done();
    } else if (errno == ENOENT) {
      return kRemovedBeforeDelete;
    } else if (errno != EEXIST) {
      return folderFailure(errno);
    }
  }
  if (aside.empty()) return folderFailure(EEXIST);
  if (Outcome same = isWhatWasRead(folder, aside, read); !same) {
    // Another program's file (or one that cannot be checked): back under
    // its name. Should a new file have taken the name meanwhile, it is the
    // newer and the one moved aside was replaced, as a rename over it would
    // have done.
    if (::renameat2(folder, aside.c_str(), folder, name.c_str(),
                    RENAME_NOREPLACE) != 0 &&
        errno == EEXIST) {
      ::unlinkat(folder, aside.c_str(), 0);
    }
    return same.kind() == FailureKind::kChanged ? kChangedBeforeDelete : same;
  }
  if (::unlinkat(folder, aside.c_str(), 0) != 0) {
    int error = errno;
    ::renameat2(folder, aside.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
    return folderFailure(error);
  }
  (void)syncDescriptor(folder);
  return done();
}

Result<FileStamp> createNewFile(int folder, const std::string& name,
                                std::string_view contents,
                                const std::string& sibling) {
  if (Outcome valid = checkName(name); !valid) return valid.failure();
  if (Outcome allowed = folderAllowsChanges(folder); !allowed)
    return allowed.failure();
  struct stat status {};
  Result<Descriptor> like = openOriginal(folder, sibling, status);
  if (!like) return like.failure();
  Result<TemporaryFile> created = createTemporary(folder, name);
  if (!created) return created.failure();
  TemporaryFile& temporary = created.value();
  if (Outcome same = copyLikeness(like.value().get(), status,
                                  temporary.descriptor().get());
      !same)
    return same.failure();
  like.value().reset();
  if (Outcome filled = fill(temporary, contents, [](ReplaceStep) {}); !filled)
    return filled.failure();
  // The stamp is taken before the file gets its name: a failure after that
  // would leave a new item behind a run that reports nothing written. The
  // name keeps every part of the stamp that a later check compares.
  if (::fstatat(folder, temporary.name().c_str(), &status,
                AT_SYMLINK_NOFOLLOW) != 0)
    return fileFailure(errno);
  if (::renameat2(folder, temporary.name().c_str(), folder, name.c_str(),
                  RENAME_NOREPLACE) != 0) {
    if (!flagsUnsupported(errno))
      return errno == EEXIST ? kAlreadyThere : folderFailure(errno);
    // A hard link is made only where the name is free, as the flag would;
    // the temporary name goes with the temporary.
    if (::linkat(folder, temporary.name().c_str(), folder, name.c_str(), 0) !=
        0) {
      return errno == EEXIST ? kAlreadyThere : folderFailure(errno);
    }
  } else {
    temporary.keep();
  }
  (void)syncDescriptor(folder);
  return stampOf(status);
}

}  // namespace corvane
