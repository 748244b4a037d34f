#include "store/system/system_failure.h"

#include <cerrno>
#include <cstring>

namespace corvane {

FailureKind kindOfError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return FailureKind::kDenied;
    case ENOENT:
      return FailureKind::kNotFound;
    case EEXIST:
      return FailureKind::kExists;
    case EROFS:
      return FailureKind::kReadOnly;
    case EMFILE:
    case ENFILE:
    case EAGAIN:
      return FailureKind::kExhausted;
    case ENOMEM:
      return FailureKind::kNoMemory;
    case EIO:
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case ESTALE:
    case ETIMEDOUT:
    case ENOTCONN:
    case EHOSTDOWN:
    case ENXIO:
    case ENODEV:
      return FailureKind::kUnavailable;
    default:
      return FailureKind::kOther;
  }
}

std::string reasonForError(int error) {
  switch (error) {
    case ENOSPC:
      return "There is no space left on the device.";
    case EDQUOT:
      return "The disk quota is used up.";
    case EROFS:
      return "The file system is read-only.";
    case EACCES:
    case EPERM:
      return "Permission was denied.";
    case EFBIG:
      return "The file would be larger than this system allows.";
    case EIO:
      return "The disk reported an input/output error.";
    case ENOENT:
      return "The file does not exist.";
    case ENAMETOOLONG:
      return "The file name is too long.";
    case ENOTDIR:
      return "A part of the file's path is not a folder.";
    case ELOOP:
      return "The file is a symbolic link.";
    case EMFILE:
    case ENFILE:
      return "Too many files are open.";
    case ENOMEM:
      return "There is not enough memory.";
    default:
      break;
  }
  // The description table itself, not strerror's buffer: thread-safe.
  const char* description = ::strerrordesc_np(error);
  if (description == nullptr || *description == '\0')
    return "An unexpected system error occurred.";
  return std::string(description) + ".";
}

Failure systemFailure(int error) {
  return Failure{reasonForError(error), kindOfError(error)};
}

}  // namespace corvane
