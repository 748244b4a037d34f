#include "store/file_replace.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

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
constexpr int kReadAttempts = 3;
// Room for "." + name + ".corvane-<16 hex>.tmp" within a file name's limit.
constexpr std::size_t kLongestNameInTemporary = 255 - 1 - 30;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ~Descriptor() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now; false when the close reported a failed write.
  bool reset() {
    if (fd_ < 0) return true;
    int result = ::close(std::exchange(fd_, -1));
    return result == 0 || errno == EINTR;
  }

 private:
  int fd_;
};

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

// The folder holding `path`, open for lookups relative to it and, where
// the folder is readable, for flushing its entries.
Result<Descriptor> openFolder(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) {
    fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (fd < 0) {
    if (errno == ENOENT) return Failure{"The list folder no longer exists."};
    return Failure{reasonFor(errno)};
  }
  return Descriptor(fd);
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

Result<std::string> plainName(const std::filesystem::path& path) {
  std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") {
    return Failure{"The reminder's file name is not valid."};
  }
  return name;
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
  void renamed() { name_.clear(); }

 private:
  int folder_;
  std::string name_;
  Descriptor fd_;
};

// The temporary's name starts with "." and does not end in ".ics", so no
// reader of the list takes it, or a copy left by a crash, for an item.
Result<TemporaryFile> createTemporary(int folder, const std::string& name) {
  std::string stem = name.substr(0, kLongestNameInTemporary);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string temporary = "." + stem + ".corvane-" + randomHex() + ".tmp";
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

}  // namespace

FileStamp stampOf(const struct stat& status) {
  return FileStamp{static_cast<std::uint64_t>(status.st_dev),
                   static_cast<std::uint64_t>(status.st_ino),
                   static_cast<std::int64_t>(status.st_size),
                   nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

Result<StampedContents> readStampedFile(const std::filesystem::path& path) {
  // Non-blocking so that a named pipe in a list cannot stall corvane.
  Descriptor fd(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return Failure{reasonFor(errno)};
  struct stat before {};
  if (::fstat(fd.get(), &before) != 0) return Failure{reasonFor(errno)};
  if (!S_ISREG(before.st_mode)) return failure(kNotRegular);
  // A writer that changes the file in place during the read would leave a
  // mixture; the stamp taken after the read shows that, and we read again.
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    std::string bytes;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
      ssize_t got = ::pread(fd.get(), buffer, sizeof buffer, offset);
      if (got < 0) {
        if (errno == EINTR) continue;
        return Failure{reasonFor(errno)};
      }
      if (got == 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
      offset += got;
    }
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0) return Failure{reasonFor(errno)};
    if (stampOf(after) == stampOf(before)) {
      return StampedContents{std::move(bytes), stampOf(after)};
    }
    before = after;
  }
  return Failure{"The reminder's file kept changing while it was read."};
}

Outcome replaceFile(const std::filesystem::path& path,
                    std::string_view contents, const FileStamp& expected,
                    const ReplaceStepHook& atStep) {
  auto reached = [&atStep](ReplaceStep step) {
    if (atStep) atStep(step);
  };
  Result<std::string> name = plainName(path);
  if (!name) return Failure{name.reason()};
  Result<Descriptor> folder = openFolder(path);
  if (!folder) return Failure{folder.reason()};
  int folderFd = folder.value().get();

  // Checked before any work so that a stale change costs nothing.
  struct stat original {};
  Outcome unchanged = checkUnchanged(folderFd, name.value(), expected,
                                     kStaleBeforeWrite, &original);
  if (!unchanged) return unchanged;

  Result<TemporaryFile> created = createTemporary(folderFd, name.value());
  if (!created) return Failure{created.reason()};
  TemporaryFile& temporary = created.value();
  int fd = temporary.descriptor().get();
  reached(ReplaceStep::kTemporaryCreated);

  Outcome owned = copyOwnership(fd, original);
  if (!owned) return owned;
  std::size_t half = contents.size() / 2;
  if (!writeAll(fd, contents.substr(0, half))) return Failure{reasonFor(errno)};
  reached(ReplaceStep::kHalfWritten);
  if (!writeAll(fd, contents.substr(half))) return Failure{reasonFor(errno)};
  reached(ReplaceStep::kWritten);
  // The bytes must be on disk before the name points at them, or a power
  // loss could leave an empty item where the old one was.
  if (!syncDescriptor(fd)) return Failure{reasonFor(errno)};
  if (!temporary.descriptor().reset()) return Failure{reasonFor(errno)};
  reached(ReplaceStep::kSynced);

  // Another program may have written the file while corvane worked; its
  // change wins. (A write in the instant between this check and the rename
  // cannot be excluded: no file system offers a compare-and-rename.)
  unchanged =
      checkUnchanged(folderFd, name.value(), expected, kStaleBeforeWrite);
  if (!unchanged) return unchanged;
  reached(ReplaceStep::kChecked);

  if (::renameat(folderFd, temporary.name().c_str(), folderFd,
                 name.value().c_str()) != 0) {
    return Failure{folderReasonFor(errno)};
  }
  temporary.renamed();
  reached(ReplaceStep::kRenamed);
  // The new contents are in place and visible, so the change is reported as
  // made even when the folder cannot be flushed (some file systems refuse).
  syncDescriptor(folderFd);
  return done();
}

Outcome removeFile(const std::filesystem::path& path,
                   const FileStamp& expected) {
  Result<std::string> name = plainName(path);
  if (!name) return Failure{name.reason()};
  Result<Descriptor> folder = openFolder(path);
  if (!folder) return Failure{folder.reason()};
  int folderFd = folder.value().get();
  Outcome unchanged =
      checkUnchanged(folderFd, name.value(), expected, kStaleBeforeDelete);
  if (!unchanged) return unchanged;
  if (::unlinkat(folderFd, name.value().c_str(), 0) != 0) {
    if (errno == ENOENT) return failure(kRemovedBeforeDelete);
    return Failure{folderReasonFor(errno)};
  }
  syncDescriptor(folderFd);
  return done();
}

}  // namespace corvane
