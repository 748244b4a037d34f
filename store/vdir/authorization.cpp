#include "store/vdir/authorization.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "store/system/system_failure.h"

namespace corvane {
namespace {

// Whether there is an entry at `path`, a symbolic link to nothing included:
// no folder can be made where one stands.
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

// The missing folders from `root` up to (not including) `madeBelow`,
// outermost first; absent when `root` is not below `madeBelow` or
// `madeBelow` itself is missing.
std::optional<std::vector<std::filesystem::path>> missingFolders(
    const std::filesystem::path& root, const std::filesystem::path& madeBelow) {
  std::vector<std::filesystem::path> missing;
  if (entryExists(root)) return missing;
  std::filesystem::path folder = root.lexically_normal();
  const std::filesystem::path base = madeBelow.lexically_normal();
  while (!entryExists(folder)) {
    if (folder == base || folder == folder.parent_path() ||
        !folder.has_relative_path())
      return std::nullopt;
    missing.push_back(folder);
    folder = folder.parent_path();
  }
  // The nearest existing folder must be the base or lie below it.
  auto relative = folder.lexically_relative(base);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  std::reverse(missing.begin(), missing.end());
  return missing;
}

// A missing root can be made when the nearest existing folder above it, at
// or below `madeBelow`, is a directory this user may add entries to.
bool couldCreate(const std::filesystem::path& root,
                 const std::filesystem::path& madeBelow) {
  auto missing = missingFolders(root, madeBelow);
  if (!missing || missing->empty()) return false;
  std::filesystem::path existing = missing->front().parent_path();
  return isDirectory(existing) && can(existing, W_OK | X_OK);
}

}  // namespace

AuthorizationStatus authorizationStatusOf(
    const std::filesystem::path& root, const std::filesystem::path& madeBelow) {
  struct stat info;
  if (::stat(root.c_str(), &info) != 0) {
    // A root under a regular file is missing too, and cannot be made.
    if (errno == ENOENT || errno == ENOTDIR)
      return couldCreate(root, madeBelow) ? AuthorizationStatus::kNotDetermined
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

Outcome createRoot(const std::filesystem::path& root,
                   const std::filesystem::path& madeBelow) {
  auto missing = missingFolders(root, madeBelow);
  if (!missing)
    return Failure{"The store folder " + root.string() +
                   " cannot be made: its parent folder does not exist."};
  for (const auto& folder : *missing) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
      return Failure{"The store folder " + folder.string() +
                     " could not be made: " + reasonForError(errno)};
  }
  return done();
}

}  // namespace corvane
