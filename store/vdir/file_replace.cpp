#include "store/vdir/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "store/vdir/descriptor.h"

namespace corvane {
namespace {

constexpr std::string_view kChangedMeanwhile =
    "The reminder was changed by another program; nothing was written.";
constexpr std::string_view kRemovedMeanwhile =
    "The reminder was removed by another program; nothing was written.";
constexpr std::string_view kChangedBeforeDelete =
    "The reminder was changed by another program; nothing was deleted.";
constexpr std::string_view kRemovedBeforeDelete =
    "The reminder was removed by another program.";
constexpr std::string_view kSymbolicLink =
    "The reminder's file is a symbolic link; corvane changes only regular "
    "files.";
constexpr std::string_view kNotRegular =
    "The reminder's file is not a regular file.";
constexpr std::string_view kReadOnlyFolder = "The list folder is read-only.";
constexpr std::string_view kReadOnlyFile = "The reminder's file is read-only.";
constexpr std::string_view kHardLinked =
    "The reminder's file has more than one name (hard links); replacing it "
    "would part them, so nothing was written.";
constexpr std::string_view kAlreadyThere =
    "A file of that name already exists in the list.";
constexpr int kReadAttempts = 3;
// Room for "." + name + ".corvane-<16 hex>.tmp" within a file name's limit.
constexpr std::size_t kLongestNameInTemporary = 255 - 1 - 30;
constexpr std::string_view kTemporaryMark = ".corvane-";
constexpr std::string_view kTemporaryEnd = ".tmp";

std::int64_t nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}


// The system's reason as a sentence, never a bare number.
std::string reasonFor(int error) {
  switch (error) {
    case ENOSPC:
      return "There is no space left on the device.";
    case EDQUOT:
      return "The disk quota is used up.";
    case EROFS:
      return std::string(kReadOnlyFolder);
    case EACCES:
    case EPERM:
      return "Permission was denied.";
    case EFBIG:
      return "The file would be larger than this system allows.";
    case EIO:
      return "The disk reported an input/output error.";
    case ENOENT:
      return "The reminder's file does not exist.";
    case ENAMETOOLONG:
      return "The file name is too long.";
    case ENOTDIR:
      return "A part of the file's path is not a folder.";
    case ELOOP:
      return std::string(kSymbolicLink);
    default:
      break;
  }
  const char* description = strerrordesc_np(error);
  if (description == nullptr || *description == '\0') {
    return "An unexpected system error occurred.";
  }
  return std::string(description) + ".";
}

// For failures to change the folder's entries, where a refusal means the
// folder may not be changed.
std::string folderReasonFor(int error) {
  if (error == EACCES || error == EPERM || error == EROFS) {
    return std::string(kReadOnlyFolder);
  }
  return reasonFor(error);
}

Failure failure(std::string_view reason) {
  return Failure{std::string(reason)};
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool syncDescriptor(int fd) {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

std::string randomHex() {
  std::uint64_t value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
    // Uniqueness, not secrecy, is what matters; O_EXCL catches collisions.
    static std::uint64_t counter = 0;
    value = static_cast<std::uint64_t>(
                std::chrono::steady_clock::now().time_since_epoch().count()) ^
            (static_cast<std::uint64_t>(::getpid()) << 32) ^ ++counter;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex(16, '0');
  for (char& digit : hex) {
    digit = kDigits[value & 0xF];
    value >>= 4;
  }
  return hex;
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

// The folder's own permission, asked before the file's so that a list that
// may not be changed says so whatever its items' modes are.
Outcome folderAllowsChanges(int folder) {
  if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0 &&
      (errno == EACCES || errno == EPERM || errno == EROFS)) {
    return failure(kReadOnlyFolder);
  }
  return done();
}

// What to say when the file is no longer the one that was read.
struct StaleReasons {
  std::string_view changed;
  std::string_view removed;
};
constexpr StaleReasons kStaleBeforeWrite{kChangedMeanwhile, kRemovedMeanwhile};
constexpr StaleReasons kStaleBeforeDelete{kChangedBeforeDelete,
                                          kRemovedBeforeDelete};

// Checks that `name` in `folder` is still the regular file that was read.
Outcome checkUnchanged(int folder, const std::string& name,
                       const FileStamp& expected, const StaleReasons& stale,
                       struct stat* current = nullptr) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return failure(stale.removed);
    return Failure{reasonFor(errno)};
  }
  if (S_ISLNK(status.st_mode)) return failure(kSymbolicLink);
  if (!S_ISREG(status.st_mode)) return failure(kNotRegular);
  if (stampOf(status) != expected) return failure(stale.changed);
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

// Larger files are not calendar objects anyone keeps a reminder in.
constexpr off_t kMaxItemBytes = off_t{256} << 20;
constexpr std::string_view kTooLarge =
    "The reminder's file is too large to be a calendar item.";

// Reads the open regular file `fd`, `size` bytes long when last looked at,
// from its start into `bytes`.
Outcome readFromStart(int fd, std::size_t size, std::string& bytes) {
  // One byte more than the file holds: a read that stops short of it at
  // the size the file had is at its end, which spares a store of 10,000
  // items as many reads that only find the end. A file that grew
  // meanwhile fills the extra byte and is read on to its new end.
  bytes.resize(size + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() + 4096);
    ssize_t got = ::pread(fd, bytes.data() + filled, bytes.size() - filled,
                          static_cast<off_t>(filled));
    if (got < 0) {
      if (errno == EINTR) continue;
      return Failure{reasonFor(errno)};
    }
    filled += static_cast<std::size_t>(got);
    if (got == 0 || (filled == size && bytes.size() == size + 1)) {
      bytes.resize(filled);
      return done();
    }
    if (filled > static_cast<std::size_t>(kMaxItemBytes))
      return failure(kTooLarge);
  }
}

// Whether the entry `name` is exactly the file that was read: the same
// file, not written since (a rename changes the change time, so that is
// left out), with the same bytes (which also catches a writer whose change
// fell within one tick of the file system's clock). Fails when it cannot
// be read.
Result<bool> isWhatWasRead(int folder, const std::string& name,
                           const StampedContents& read) {
  Result<StampedContents> now = readStampedFile(folder, name);
  if (!now) {
    if (now.reason() == kNotRegular || now.reason() == kTooLarge) return false;
    return Failure{now.reason()};
  }
  const FileStamp& a = now.value().stamp;
  const FileStamp& b = read.stamp;
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modifiedNanoseconds == b.modifiedNanoseconds &&
         now.value().bytes == read.bytes;
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

std::string temporaryName(const std::string& name) {
  // Appended piece by piece: GCC 12 at -O3 takes `"." + string` for an
  // overlapping copy and fails the release build.
  std::string temporary(".");
  temporary.append(name, 0, kLongestNameInTemporary);
  temporary += kTemporaryMark;
  temporary += randomHex();
  temporary += kTemporaryEnd;
  return temporary;
}

// Whether `entry` has the form of corvane's temporary names.
bool isTemporaryName(std::string_view entry) {
  if (entry.size() < 1 + kTemporaryMark.size() + 16 + kTemporaryEnd.size() ||
      entry[0] != '.' || !entry.ends_with(kTemporaryEnd)) {
    return false;
  }
  std::string_view tail = entry.substr(entry.size() - kTemporaryEnd.size() -
                                       16 - kTemporaryMark.size());
  if (!tail.starts_with(kTemporaryMark)) return false;
  for (char c : tail.substr(kTemporaryMark.size(), 16)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// A hidden file beside the original that is removed again unless it was
// renamed into place.
class TemporaryFile {
 public:
  TemporaryFile(int folder, std::string name, Descriptor fd)
      : folder_(folder), name_(std::move(name)), fd_(std::move(fd)) {}
  TemporaryFile(TemporaryFile&& other) noexcept
      : folder_(other.folder_),
        name_(std::exchange(other.name_, {})),
        fd_(std::move(other.fd_)) {}
  ~TemporaryFile() {
    fd_.reset();
    if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
  }

  const std::string& name() const { return name_; }
  Descriptor& descriptor() { return fd_; }
  // The name now holds something that must stay.
  void keep() { name_.clear(); }

 private:
  int folder_;
  std::string name_;
  Descriptor fd_;
};

// The temporary's name starts with "." and does not end in ".ics", so no
// reader of the list takes it, or a copy left by a crash, for an item.
Result<TemporaryFile> createTemporary(int folder, const std::string& name) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string temporary = temporaryName(name);
    int fd =
        ::openat(folder, temporary.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return TemporaryFile(folder, temporary, Descriptor(fd));
    if (errno != EEXIST && errno != EINTR) {
      return Failure{folderReasonFor(errno)};
    }
  }
  return Failure{"No temporary file could be created in the list folder."};
}

// The original's owner where this process may set it (the group alone when
// only that is allowed), then its permission bits; in that order because a
// change of owner clears set-id bits.
Outcome copyOwnership(int fd, const struct stat& original) {
  if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
    if (errno != EPERM) return Failure{reasonFor(errno)};
    if (::fchown(fd, static_cast<uid_t>(-1), original.st_gid) != 0 &&
        errno != EPERM) {
      return Failure{reasonFor(errno)};
    }
  }
  if (::fchmod(fd, original.st_mode & 07777) != 0) {
    return Failure{reasonFor(errno)};
  }
  return done();
}

// Every extended attribute of `from` (POSIX ACLs are two of them) set on
// `to`, after the mode, since setting an ACL sets the group bits too. An
// attribute that cannot be kept refuses the change, except the security
// labels that the system sets on new files by its own policy.
Outcome copyAttributes(int from, int to) {
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size < 0) {
    if (errno == ENOTSUP) return done();
    return Failure{reasonFor(errno)};
  }
  std::string names(static_cast<std::size_t>(size), '\0');
  size = ::flistxattr(from, names.data(), names.size());
  if (size < 0) return Failure{reasonFor(errno)};
  names.resize(static_cast<std::size_t>(size));
  std::string value;
  for (std::size_t at = 0; at < names.size();) {
    std::string name = names.c_str() + at;
    at += name.size() + 1;
    ssize_t length = ::fgetxattr(from, name.c_str(), nullptr, 0);
    if (length < 0) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return Failure{reasonFor(errno)};
    }
    value.resize(static_cast<std::size_t>(length));
    length = ::fgetxattr(from, name.c_str(), value.data(), value.size());
    if (length < 0) return Failure{reasonFor(errno)};
    if (::fsetxattr(to, name.c_str(), value.data(),
                    static_cast<std::size_t>(length), 0) != 0) {
      if (name.starts_with("security.") && (errno == EPERM || errno == EACCES))
        continue;
      return Failure{"The reminder's file has an extended attribute (" + name +
                     ") that cannot be kept: " + reasonFor(errno)};
    }
  }
  return done();
}

// Writes and flushes the temporary's bytes. The bytes must be on disk
// before the name points at them, or a power loss could leave an empty item
// where the old one was.
Outcome fill(TemporaryFile& temporary, std::string_view contents,
             const std::function<void(ReplaceStep)>& reached) {
  int fd = temporary.descriptor().get();
  std::size_t half = contents.size() / 2;
  if (!writeAll(fd, contents.substr(0, half))) return Failure{reasonFor(errno)};
  reached(ReplaceStep::kHalfWritten);
  if (!writeAll(fd, contents.substr(half))) return Failure{reasonFor(errno)};
  reached(ReplaceStep::kWritten);
  if (!syncDescriptor(fd)) return Failure{reasonFor(errno)};
  if (!temporary.descriptor().reset()) return Failure{reasonFor(errno)};
  reached(ReplaceStep::kSynced);
  return done();
}

// The commit on a file system without exchange: the check and the rename
// are two steps, so a rename by another program between them is lost.
Outcome renameAfterCheck(int folder, TemporaryFile& temporary,
                         const std::string& name, const FileStamp& expected) {
  Outcome unchanged = checkUnchanged(folder, name, expected, kStaleBeforeWrite);
  if (!unchanged) return unchanged;
  if (::renameat(folder, temporary.name().c_str(), folder, name.c_str()) != 0)
    return Failure{folderReasonFor(errno)};
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

}  // namespace

FileStamp stampOf(const struct stat& status) {
  return FileStamp{static_cast<std::uint64_t>(status.st_dev),
                   static_cast<std::uint64_t>(status.st_ino),
                   static_cast<std::int64_t>(status.st_size),
                   nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

Outcome readItemFile(int folder, const char* name, std::string& bytes,
                     FileStamp* stamp) {
  // Non-blocking so that a named pipe in a list cannot stall corvane.
  Descriptor fd(::openat(
      folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (!fd.valid()) return Failure{reasonFor(errno)};
  struct stat before {};
  if (::fstat(fd.get(), &before) != 0) return Failure{reasonFor(errno)};
  if (!S_ISREG(before.st_mode)) return failure(kNotRegular);
  // A writer that changes the file in place during the read would leave a
  // mixture; the stamp taken after the read shows that, and we read again.
  // A fetch, which keeps no stamp, spares itself that second look.
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (before.st_size > kMaxItemBytes) return failure(kTooLarge);
    Outcome read = readFromStart(
        fd.get(), static_cast<std::size_t>(before.st_size), bytes);
    if (!read || stamp == nullptr) return read;
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0) return Failure{reasonFor(errno)};
    if (stampOf(after) == stampOf(before)) {
      *stamp = stampOf(after);
      return done();
    }
    before = after;
  }
  return Failure{"The reminder's file kept changing while it was read."};
}

Result<StampedContents> readStampedFile(int folder, const std::string& name) {
  StampedContents read;
  Outcome outcome = readItemFile(folder, name.c_str(), read.bytes, &read.stamp);
  if (!outcome) return Failure{outcome.reason()};
  return read;
}

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
  Descriptor original(
      ::openat(folder, name.c_str(),
               O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (!original.valid()) {
    if (errno == ENOENT) return failure(kRemovedMeanwhile);
    if (errno == ELOOP) return failure(kSymbolicLink);
    return Failure{reasonFor(errno)};
  }
  struct stat status {};
  if (::fstat(original.get(), &status) != 0) return Failure{reasonFor(errno)};
  if (!S_ISREG(status.st_mode)) return failure(kNotRegular);
  if (stampOf(status) != read.stamp) return failure(kChangedMeanwhile);
  if (!modeAllowsWriting(status)) return failure(kReadOnlyFile);
  if (status.st_nlink > 1) return failure(kHardLinked);

  Result<TemporaryFile> created = createTemporary(folder, name);
  if (!created) return Failure{created.reason()};
  TemporaryFile& temporary = created.value();
  int fd = temporary.descriptor().get();
  reached(ReplaceStep::kTemporaryCreated);
  if (Outcome owned = copyOwnership(fd, status); !owned) return owned;
  if (Outcome kept = copyAttributes(original.get(), fd); !kept) return kept;
  original.reset();
  struct stat own {};
  if (::fstat(fd, &own) != 0) return Failure{reasonFor(errno)};
  if (Outcome filled = fill(temporary, contents, reached); !filled)
    return filled;

  // Another program may have written the file while corvane worked; its
  // change wins.
  Outcome unchanged =
      checkUnchanged(folder, name, read.stamp, kStaleBeforeWrite);
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
      return failure(kRemovedMeanwhile);
    } else {
      return Failure{folderReasonFor(errno)};
    }
  } else if (Result<bool> same = isWhatWasRead(folder, temporary.name(), read);
             !same || !same.value()) {
    exchangeBack(folder, temporary, name, own.st_ino);
    return same ? failure(kChangedMeanwhile) : Failure{same.reason()};
  }
  // The temporary's name now holds the old file, removed with it.
  reached(ReplaceStep::kRenamed);
  // The new contents are in place and visible, so the change is reported as
  // made even when the folder cannot be flushed (some file systems refuse).
  syncDescriptor(folder);
  return done();
}

Outcome removeFile(int folder, const std::string& name,
                   const StampedContents& read) {
  if (Outcome valid = checkName(name); !valid) return valid;
  if (Outcome allowed = folderAllowsChanges(folder); !allowed) return allowed;
  struct stat status {};
  Outcome unchanged =
      checkUnchanged(folder, name, read.stamp, kStaleBeforeDelete, &status);
  if (!unchanged) return unchanged;
  if (!modeAllowsWriting(status)) return failure(kReadOnlyFile);

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
        if (errno == ENOENT) return failure(kRemovedBeforeDelete);
        return Failure{folderReasonFor(errno)};
      }
      syncDescriptor(folder);
      return done();
    } else if (errno == ENOENT) {
      return failure(kRemovedBeforeDelete);
    } else if (errno != EEXIST) {
      return Failure{folderReasonFor(errno)};
    }
  }
  if (aside.empty()) return Failure{folderReasonFor(EEXIST)};
  if (Result<bool> same = isWhatWasRead(folder, aside, read);
      !same || !same.value()) {
    // Another program's file (or one that cannot be checked): back under
    // its name. Should a new file have taken the name meanwhile, it is the
    // newer and the one moved aside was replaced, as a rename over it would
    // have done.
    if (::renameat2(folder, aside.c_str(), folder, name.c_str(),
                    RENAME_NOREPLACE) != 0 &&
        errno == EEXIST) {
      ::unlinkat(folder, aside.c_str(), 0);
    }
    return same ? failure(kChangedBeforeDelete) : Failure{same.reason()};
  }
  if (::unlinkat(folder, aside.c_str(), 0) != 0) {
    int error = errno;
    ::renameat2(folder, aside.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
    return Failure{folderReasonFor(error)};
  }
  syncDescriptor(folder);
  return done();
}

Result<FileStamp> createNewFile(int folder, const std::string& name,
                                std::string_view contents, mode_t mode) {
  if (Outcome valid = checkName(name); !valid) return Failure{valid.reason()};
  Result<TemporaryFile> created = createTemporary(folder, name);
  if (!created) return Failure{created.reason()};
  TemporaryFile& temporary = created.value();
  if (::fchmod(temporary.descriptor().get(), mode & 07777) != 0)
    return Failure{reasonFor(errno)};
  if (Outcome filled = fill(temporary, contents, [](ReplaceStep) {}); !filled)
    return Failure{filled.reason()};
  if (::renameat2(folder, temporary.name().c_str(), folder, name.c_str(),
                  RENAME_NOREPLACE) != 0) {
    if (!flagsUnsupported(errno)) {
      return Failure{errno == EEXIST ? std::string(kAlreadyThere)
                                     : folderReasonFor(errno)};
    }
    // A hard link is made only where the name is free, as the flag would.
    if (::linkat(folder, temporary.name().c_str(), folder, name.c_str(), 0) !=
        0) {
      return Failure{errno == EEXIST ? std::string(kAlreadyThere)
                                     : folderReasonFor(errno)};
    }
  } else {
    temporary.keep();
  }
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
    return Failure{reasonFor(errno)};
  syncDescriptor(folder);
  return stampOf(status);
}

void removeStaleTemporaries(int folder, Instant now) {
  // A descriptor of its own: the stream closes the one it reads through,
  // and `folder` stays the caller's.
  DirectoryStream entries(
      Descriptor(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!entries.open()) return;
  const auto dayAgo = (now - std::chrono::hours(24)).time_since_epoch();
  while (const dirent* entry = ::readdir(entries.get())) {
    if (!isTemporaryName(entry->d_name)) continue;
    struct stat status {};
    if (::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode) &&
        std::chrono::seconds(status.st_ctim.tv_sec) < dayAgo) {
      ::unlinkat(folder, entry->d_name, 0);
    }
  }
}

}  // namespace corvane
