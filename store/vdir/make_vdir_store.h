// The one way in to the vdir store for the rest of the program, which sees
// only the store interface.
#pragma once

#include <memory>

#include "store/clock.h"
#include "store/reminder_store.h"

namespace corvane {

// The vdir store at the user's default location, reading the time from
// `clock`.
std::unique_ptr<ReminderStore> makeVdirStore(Clock clock);

}  // namespace corvane
