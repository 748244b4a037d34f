// Finding and loading the modules that hold the desktops' stores. Where no
// session bus is there, or a module is not installed, nothing is loaded and
// a run costs what it would without that store.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "store/clock.h"
#include "store/reminder_store.h"

namespace corvane {

// Whether a session bus is there: DBUS_SESSION_BUS_ADDRESS is set (and asks
// for no bus to be launched), or $XDG_RUNTIME_DIR/bus is a socket. Starts
// nothing.
bool hasSessionBus();

// The module's file (`fileName`, such as "corvane-eds.so") when it is
// installed beside the program, or where the program's package installs it
// relative to the program; absent otherwise. Loads nothing.
std::optional<std::filesystem::path> storeModuleFile(const char* fileName);

// Loads the module and calls its entry point `entry`
// (store/store_module.h), for a store that reads the time from `clock`;
// null when the module cannot be loaded or its store is not there. The
// module stays loaded for the rest of the process, as the store's code
// lives in it.
std::unique_ptr<ReminderStore> openStoreModule(
    const std::filesystem::path& module, const char* entry, const Clock& clock);

}  // namespace corvane
