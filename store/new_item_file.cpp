#include "store/new_item_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace corvane {
namespace {

std::string reasonFor(int error) {
  switch (error) {
    case ENOSPC:
      return "There is no space left on the device.";
    case EDQUOT:
      return "The disk quota is used up.";
    case EROFS:
    case EACCES:
    case EPERM:
      return "The list folder is read-only.";
    case EEXIST:
      return "A file of that name is in the list already.";
    default:
      break;
  }
  const char* description = strerrordesc_np(error);
  if (description == nullptr || *description == '\0')
    return "An unexpected system error occurred.";
  return std::string(description) + ".";
}

// Closes the descriptor it holds when it goes.
struct Fd {
  int fd = -1;
  Fd(int value) : fd(value) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool syncFd(int fd) {
  while (::fsync(fd) != 0)
    if (errno != EINTR) return false;
  return true;
}

std::string randomSuffix() {
  unsigned long long value = 0;
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value)
    value = static_cast<unsigned long long>(::getpid()) ^
            static_cast<unsigned long long>(::time(nullptr));
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", value);
  return text;
}

// Gives the temporary file its name, unless a file has that name: in one
// step where the file system can, else by a second link to it.
int publish(int dir, const std::string& temporary, const std::string& name) {
  if (::renameat2(dir, temporary.c_str(), dir, name.c_str(),
                  RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(dir, temporary.c_str(), dir, name.c_str(), 0) != 0) return errno;
  ::unlinkat(dir, temporary.c_str(), 0);
  return 0;
}

}  // namespace

Outcome createNewFile(const std::filesystem::path& folder,
                      const std::string& name, std::string_view contents,
                      mode_t mode) {
  Fd dir(
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (dir.fd < 0) return Failure{reasonFor(errno)};
  // Hidden and not ending in ".ics": no reader takes it, or what a crash
  // leaves of it, for an item.
  std::string temporary =
      "." + name.substr(0, 200) + ".corvane-" + randomSuffix() + ".tmp";
  Fd file(::openat(dir.fd, temporary.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (file.fd < 0) return Failure{reasonFor(errno)};
  int error = 0;
  if (::fchmod(file.fd, mode) != 0) error = errno;
  if (error == 0 && (!writeAll(file.fd, contents) || !syncFd(file.fd)))
    error = errno;
  if (error == 0 && ::close(std::exchange(file.fd, -1)) != 0 && errno != EINTR)
    error = errno;
  if (error == 0) error = publish(dir.fd, temporary, name);
  if (error != 0) {
    ::unlinkat(dir.fd, temporary.c_str(), 0);
    return Failure{reasonFor(error)};
  }
  syncFd(dir.fd);
  return done();
}

Outcome removeNewFile(const std::filesystem::path& folder,
                      const std::string& name) {
  Fd dir(
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (dir.fd < 0) return Failure{reasonFor(errno)};
  if (::unlinkat(dir.fd, name.c_str(), 0) != 0)
    return Failure{reasonFor(errno)};
  syncFd(dir.fd);
  return done();
}

}  // namespace corvane
