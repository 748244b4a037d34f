// Making a new file like another, so that a file corvane writes beside or
// in place of an item is the item's owner's as much as the item was.
#pragma once

#include <sys/stat.h>

#include "store/result.h"

namespace corvane {

// Gives the open file `fd` the owner and group of the open file `original`
// (whose status is `status`) where this process may set them (the group
// alone where only that is allowed; neither, without failing, where
// neither is), then its permission bits, then its extended attributes,
// POSIX ACLs among them. Fails when a permission bit or an attribute
// cannot be kept, except the security labels that the system sets on new
// files by its own policy.
Outcome copyLikeness(int original, const struct stat& status, int fd);

}  // namespace corvane
