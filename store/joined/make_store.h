// The one way in to the stores for the rest of the program, which sees only
// the store interface: the user's vdir, joined by the desktops' stores (GNOME's
// EDS, then KDE's Akonadi) where a session bus and their modules are there.
#pragma once

#include <memory>

#include "store/clock.h"
#include "store/reminder_store.h"

namespace corvane {

// The vdir store at the user's default location, alone where no desktop
// store can be there (then no module is loaded); else the vdir store joined
// by each desktop store whose module is installed, which is loaded when a
// command first needs it. All read the time from `clock`.
std::unique_ptr<ReminderStore> makeStore(Clock clock);

}  // namespace corvane
