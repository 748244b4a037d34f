#include "store/vdir/item_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "store/system/descriptor.h"
#include "store/system/descriptor_wait.h"
#include "store/system/system_failure.h"

namespace corvane {
namespace {

constexpr int kReadAttempts = 3;
// Larger files are not calendar objects anyone keeps a reminder in.
constexpr off_t kMaxItemBytes = off_t{256} << 20;

const Failure kNotRegular{"The reminder's file is not a regular file.",
                          FailureKind::kNotFound};
const Failure kTooLarge{
    "The reminder's file is too large to be a calendar item.",
    FailureKind::kNotFound};

std::int64_t nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The failure of an open that `error` refused. A link (refused by
// O_NOFOLLOW) or a socket is no item, as any other non-regular file.
Failure openFailure(int error) {
  if (error == ELOOP || error == ENXIO || error == EISDIR) return kNotRegular;
  return systemFailure(error);
}

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
      return systemFailure(errno);
    }
    filled += static_cast<std::size_t>(got);
    if (got == 0 || (filled == size && bytes.size() == size + 1)) {
      bytes.resize(filled);
      return done();
    }
    if (filled > static_cast<std::size_t>(kMaxItemBytes)) return kTooLarge;
  }
}

// The bytes of the open file `fd`, and with `stamp` their state.
Outcome readWhole(int fd, std::string& bytes, FileStamp* stamp) {
  struct stat before {};
  if (::fstat(fd, &before) != 0) return systemFailure(errno);
  if (!S_ISREG(before.st_mode)) return kNotRegular;
  // A writer that changes the file in place during the read would leave a
  // mixture; the stamp taken after the read shows that, and we read again.
  // A fetch, which keeps no stamp, spares itself that second look.
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (before.st_size > kMaxItemBytes) return kTooLarge;
    Outcome read =
        readFromStart(fd, static_cast<std::size_t>(before.st_size), bytes);
    if (!read || stamp == nullptr) return read;
    struct stat after {};
    if (::fstat(fd, &after) != 0) return systemFailure(errno);
    if (stampOf(after) == stampOf(before)) {
      *stamp = stampOf(after);
      return done();
    }
    before = after;
  }
  return Failure{"The reminder's file kept changing while it was read.",
                 FailureKind::kChanged};
}

}  // namespace

FileStamp stampOf(const struct stat& status) {
  return FileStamp{static_cast<std::uint64_t>(status.st_dev),
                   static_cast<std::uint64_t>(status.st_ino),
                   static_cast<std::int64_t>(status.st_size),
                   nanoseconds(status.st_mtim),
                   nanoseconds(status.st_ctim),
                   static_cast<std::uint32_t>(status.st_mode),
                   static_cast<std::uint32_t>(status.st_uid),
                   static_cast<std::uint32_t>(status.st_gid)};
}

Outcome readItemFile(int folder, const char* name, std::string& bytes,
                     FileStamp* stamp) {
  // Non-blocking so that a named pipe in a list cannot stall corvane.
  Descriptor fd(::openat(
      folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (!fd.valid()) return openFailure(errno);
  return readWhole(fd.get(), bytes, stamp);
}

Result<StampedContents> readStampedFile(int folder, const std::string& name) {
  StampedContents read;
  DescriptorWait wait;
  for (;;) {
    Outcome outcome =
        readItemFile(folder, name.c_str(), read.bytes, &read.stamp);
    if (outcome) return read;
    if (outcome.kind() != FailureKind::kExhausted || !wait.pause())
      return outcome.failure();
  }
}

}  // namespace corvane
