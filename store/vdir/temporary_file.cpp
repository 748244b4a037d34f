#include "store/vdir/temporary_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

#include "store/system/system_failure.h"
#include "store/system/unique_bytes.h"

namespace corvane {
namespace {

constexpr std::string_view kTemporaryMark = ".corvane-";
constexpr std::string_view kTemporaryEnd = ".tmp";
constexpr std::size_t kUniqueDigits = 16;
// Room for "." + name + ".corvane-<16 hex>.tmp" within a file name's limit.
constexpr std::size_t kLongestNameInTemporary = 255 - 1 - 30;

bool isLowerHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string temporaryName(const std::string& name) {
  // Appended piece by piece: GCC 12 at -O3 takes `"." + string` for an
  // overlapping copy and fails the release build.
  std::string temporary(".");
  temporary.append(name, 0, kLongestNameInTemporary);
  temporary += kTemporaryMark;
  temporary += uniqueHex(kUniqueDigits / 2);
  temporary += kTemporaryEnd;
  return temporary;
}

bool isTemporaryName(std::string_view entry) {
  if (entry.size() <
          1 + kTemporaryMark.size() + kUniqueDigits + kTemporaryEnd.size() ||
      entry[0] != '.' || !entry.ends_with(kTemporaryEnd)) {
    return false;
  }
  std::string_view tail = entry.substr(entry.size() - kTemporaryEnd.size() -
                                       kUniqueDigits - kTemporaryMark.size());
  if (!tail.starts_with(kTemporaryMark)) return false;
  tail.remove_prefix(kTemporaryMark.size());
  tail.remove_suffix(kTemporaryEnd.size());
  for (char c : tail)
    if (!isLowerHex(c)) return false;
  return true;
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : folder_(other.folder_),
      name_(std::exchange(other.name_, {})),
      fd_(std::move(other.fd_)) {}

TemporaryFile::~TemporaryFile() {
  fd_.reset();
  if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
}

Result<TemporaryFile> createTemporary(int folder, const std::string& name) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string temporary = temporaryName(name);
    int fd =
        ::openat(folder, temporary.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return TemporaryFile(folder, temporary, Descriptor(fd));
    if (errno != EEXIST && errno != EINTR) {
      Failure failure = systemFailure(errno);
      if (failure.kind == FailureKind::kDenied ||
          failure.kind == FailureKind::kReadOnly)
        return Failure{"The list folder is read-only.", FailureKind::kReadOnly};
      return failure;
    }
  }
  return Failure{"No temporary file could be created in the list folder."};
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
