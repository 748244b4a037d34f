// The Akonadi store's way out of its module (store/store_module.h).
#pragma once

#include "store/store_module.h"

namespace corvane {

// The entry point's name: it answers null when Akonadi is not running on
// the session bus, and never starts it.
inline constexpr char kAkonadiModuleEntry[] = "corvane_akonadi_open_v1";

}  // namespace corvane
