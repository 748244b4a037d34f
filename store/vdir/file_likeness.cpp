#include "store/vdir/file_likeness.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "store/system/system_failure.h"

namespace corvane {
namespace {

// The original's owner where this process may set it (the group alone when
// only that is allowed), then its permission bits; in that order because a
// change of owner clears set-id bits.
Outcome copyOwnership(int fd, const struct stat& original) {
  if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
    if (errno != EPERM) return systemFailure(errno);
    if (::fchown(fd, static_cast<uid_t>(-1), original.st_gid) != 0 &&
        errno != EPERM) {
      return systemFailure(errno);
    }
  }
  if (::fchmod(fd, original.st_mode & 07777) != 0) return systemFailure(errno);
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
    return systemFailure(errno);
  }
  std::string names(static_cast<std::size_t>(size), '\0');
  size = ::flistxattr(from, names.data(), names.size());
  if (size < 0) return systemFailure(errno);
  names.resize(static_cast<std::size_t>(size));
  std::string value;
  for (std::size_t at = 0; at < names.size();) {
    std::string name = names.c_str() + at;
    at += name.size() + 1;
    ssize_t length = ::fgetxattr(from, name.c_str(), nullptr, 0);
    if (length < 0) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return systemFailure(errno);
    }
    value.resize(static_cast<std::size_t>(length));
    length = ::fgetxattr(from, name.c_str(), value.data(), value.size());
    if (length < 0) return systemFailure(errno);
    if (::fsetxattr(to, name.c_str(), value.data(),
                    static_cast<std::size_t>(length), 0) != 0) {
      if (name.starts_with("security.") && (errno == EPERM || errno == EACCES))
        continue;
      Failure failure = systemFailure(errno);
      return Failure{"The reminder's file has an extended attribute (" + name +
                         ") that cannot be kept: " + failure.reason,
                     failure.kind};
    }
  }
  return done();
}

}  // namespace

Outcome copyLikeness(int original, const struct stat& status, int fd) {
  if (Outcome owned = copyOwnership(fd, status); !owned) return owned;
  return copyAttributes(original, fd);
}

}  // namespace corvane
