// How a store built as a module of its own leaves it: one C entry point,
// looked up by name after the program loads the module at run time, so that
// only runs that use that store pay for loading its libraries.
#pragma once

#include "store/clock.h"
#include "store/reminder_store.h"

namespace corvane {

// Connects to the module's store and returns it, reading the time from
// `clock`, for the caller to own; null when the store is not there. Never
// throws. Each module's entry name carries a number that changes with the
// store interface, so that a module of another build is never called.
using StoreModuleEntry = ReminderStore* (*)(const Clock& clock) noexcept;

}  // namespace corvane
