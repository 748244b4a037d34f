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
// Calendar programs nest a calendar, an item, its alarms and a time zone's
// rules: a handful of levels. Far below this, a parser that recurses over
// the tree cannot run out of stack.
constexpr int kDeepestNesting = 64;

const Failure kNotRegular{"The reminder's file is not a regular file.",
                          FailureKind::kNotFound};
const Failure kTooLarge{
    "The reminder's file is too large to be a calendar item.",
    FailureKind::kNotFound};
const Failure kTooDeep{
    "The reminder's file nests its parts deeper than any calendar program "
    "does.",
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

// The offset just after the letters of `name` at `at` in `text`, in any
// case and with folds between them, as a parser reads it once the lines
// are unfolded; npos when `name` is not there.
std::size_t afterUnfolded(std::string_view text, std::size_t at,
                          std::string_view name) {
  auto skipFolds = [&text](std::size_t at) {
    while (at + 1 < text.size() && (text[at] == '\r' || text[at] == '\n')) {
      std::size_t next = at + 1;
      if (text[at] == '\r' && text[next] == '\n') ++next;
      if (next >= text.size() || (text[next] != ' ' && text[next] != '\t'))
        return at;
      at = next + 1;
    }
    return at;
  };
  for (char wanted : name) {
    at = skipFolds(at);
    if (at >= text.size() || (text[at] | 0x20) != (wanted | 0x20))
      return std::string_view::npos;
    ++at;
  }
  at = skipFolds(at);
  return at < text.size() && (text[at] == ':' || text[at] == ';')
             ? at
             : std::string_view::npos;
}

// Whether the BEGIN and END lines of `text` nest deeper than
// kDeepestNesting. Lines are split as the parser splits them: at line
// feeds, and past the last one at carriage returns. One look at the first
// byte of each line, so it costs little beside the read itself.
bool nestsTooDeep(std::string_view text) {
  int depth = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    char first = static_cast<char>(text[at] | 0x20);
    if (first == 'b' && afterUnfolded(text, at, "BEGIN") != text.npos) {
      if (++depth > kDeepestNesting) return true;
    } else if (first == 'e' && depth > 0 &&
               afterUnfolded(text, at, "END") != text.npos) {
      --depth;
    }
    std::size_t end = text.find('\n', at);
    if (end == text.npos) end = text.find('\r', at);
    if (end == text.npos) break;
    at = end + 1;
  }
  return false;
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
  Outcome read = readWhole(fd.get(), bytes, stamp);
  if (read && nestsTooDeep(bytes)) return kTooDeep;
  return read;
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
