// Finding and loading the EDS module. Where no session bus is there, or the
// module is not installed, nothing is loaded and a run costs what it would
// without EDS.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "store/clock.h"
#include "store/reminder_store.h"

namespace corvane {

// The module's file, when EDS may be used: a session bus is there
// (DBUS_SESSION_BUS_ADDRESS is set, or $XDG_RUNTIME_DIR/bus is a socket)
// and the module is installed beside the program, or where the program's
// package installs it relative to the program. Absent otherwise. Loads
// nothing and never starts a bus.
std::optional<std::filesystem::path> edsModuleFile();

// Loads the module and connects to EDS through it, for a store that reads
// the time from `clock`; null when the module cannot be loaded or no EDS
// answers. The module stays loaded for the rest of the process, as the
// store's code lives in it.
std::unique_ptr<ReminderStore> openEdsStore(const std::filesystem::path& module,
                                            const Clock& clock);

}  // namespace corvane
