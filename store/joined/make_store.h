// The one way in to the stores for the rest of the program, which sees only
// the store interface: the user's vdir, joined by the GNOME desktop's
// store where a session bus and the EDS part are there.
#pragma once

#include <memory>

#include "store/clock.h"
#include "store/reminder_store.h"

namespace corvane {

// The vdir store at the user's default location, alone where EDS cannot be
// there (then nothing of EDS is loaded); else the vdir store joined by the
// EDS store, which is loaded when a command first needs it. Both read the
// time from `clock`.
std::unique_ptr<ReminderStore> makeStore(Clock clock);

}  // namespace corvane
