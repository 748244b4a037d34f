// Access to the store: on Linux the grant is the store root's permissions.
#pragma once

#include <filesystem>
#include <string>

#include "store/reminder_store.h"
#include "store/result.h"

namespace corvane {

// The word corvane reports for a status number; "unknown" for any other.
std::string authorizationStatusText(int status);

// The status of a store rooted at `root`, as this process's user sees it.
AuthorizationStatus authorizationStatusOf(const std::filesystem::path& root);

// Creates a missing root (and missing parents) with mode 0700.
Outcome createRoot(const std::filesystem::path& root);

}  // namespace corvane
