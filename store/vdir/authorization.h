// Access to the store: on Linux the grant is the store root's permissions.
#pragma once

#include <filesystem>
#include <string>

#include "store/reminder_store.h"
#include "store/result.h"

namespace corvane {

// The status of a store rooted at `root`, as this process's user sees it.
// A missing root is notDetermined only when createRoot could make it.
AuthorizationStatus authorizationStatusOf(
    const std::filesystem::path& root, const std::filesystem::path& madeBelow);

// Makes a missing root with mode 0700, and the missing folders between it
// and `madeBelow`, which must exist already; nothing above it is ever made.
Outcome createRoot(const std::filesystem::path& root,
                   const std::filesystem::path& madeBelow);

}  // namespace corvane
