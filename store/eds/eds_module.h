// The EDS store's way out of its module: one C entry point that the
// program looks up by name after loading the module at run time, so that
// only runs that use EDS pay for loading its libraries.
#pragma once

#include "store/clock.h"
#include "store/reminder_store.h"

namespace corvane {

// The entry point's name. The number changes with the store interface, so
// that a module of another build is never called.
inline constexpr char kEdsModuleEntry[] = "corvane_eds_open_v1";

// Connects to EDS and returns its store, which reads the time from `clock`
// and which the caller owns; null when no EDS answers on the session bus.
// Never throws.
using EdsModuleEntry = ReminderStore* (*)(const Clock& clock) noexcept;

}  // namespace corvane
