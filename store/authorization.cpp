#include "store/authorization.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {
namespace {

// Whether there is an entry at `path`, a symbolic link to nothing included.
bool entryExists(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::filesystem::path& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool can(const std::filesystem::path& path, int mode) {
  return ::access(path.c_str(), mode) == 0;
}

// A missing root can be made when the nearest entry on its path is a
// directory this user may add entries to. A symbolic link to nothing, the
// root itself included, is an entry that is not one: making a folder there
// always fails.
bool couldCreate(const std::filesystem::path& root) {
  std::filesystem::path ancestor = root;
  while (!ancestor.empty() && !entryExists(ancestor)) {
    if (ancestor == ancestor.parent_path()) break;
    ancestor = ancestor.parent_path();
  }
  if (ancestor.empty()) return false;
  return isDirectory(ancestor) && can(ancestor, W_OK | X_OK);
}

}  // namespace

std::string authorizationStatusText(int status) {
  switch (status) {
    case 0: return "notDetermined";
    case 1: return "restricted";
    case 2: return "denied";
    case 3: return "authorized";
    case 4: return "writeOnly";
    default: return "unknown";
  }
}

AuthorizationStatus authorizationStatusOf(const std::filesystem::path& root) {
  struct stat info;
  if (::stat(root.c_str(), &info) != 0) {
    // A root under a regular file is missing too, and cannot be made.
    if (errno == ENOENT || errno == ENOTDIR)
      return couldCreate(root) ? AuthorizationStatus::kNotDetermined
                               : AuthorizationStatus::kRestricted;
    // The root's own folder cannot be searched: a person cannot reach it.
    return AuthorizationStatus::kDenied;
  }
  if (!S_ISDIR(info.st_mode) || !can(root, X_OK))
    return AuthorizationStatus::kDenied;
  if (can(root, R_OK)) return AuthorizationStatus::kAuthorized;
  if (can(root, W_OK)) return AuthorizationStatus::kWriteOnly;
  return AuthorizationStatus::kDenied;
}

Outcome createRoot(const std::filesystem::path& root) {
  std::filesystem::path partial;
  for (const auto& part : root) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
      return Failure{"The store folder " + partial.string() +
                     " could not be made: " + std::strerror(errno) + "."};
  }
  return done();
}

}  // namespace corvane
