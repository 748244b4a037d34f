// Adding a file to a list folder without ever replacing one that is there.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "store/result.h"

namespace corvane {

// Writes `contents` as the new file `name` in `folder`, whole or not at
// all: the bytes go to a hidden temporary file, are flushed, and only then
// take the name, which fails rather than replace a file of that name. The
// folder is not followed if it is a symbolic link. The file gets the
// permission bits `mode`. The reason of a failure is plain English.
Outcome createNewFile(const std::filesystem::path& folder,
                      const std::string& name, std::string_view contents,
                      mode_t mode);

// Removes the file `name` in `folder` that createNewFile made; used to take
// back a change whose second half failed.
Outcome removeNewFile(const std::filesystem::path& folder,
                      const std::string& name);

}  // namespace corvane
