// The EDS store's way out of its module (store/store_module.h).
#pragma once

#include "store/store_module.h"

namespace corvane {

// The entry point's name: it connects to EDS, and answers null when no EDS
// answers on the session bus.
inline constexpr char kEdsModuleEntry[] = "corvane_eds_open_v1";

}  // namespace corvane
