// Where the program reads the current time: the system's clock when it
// runs, an instant of a test's choosing in tests, so that what depends on
// the day (the smart list "today", the stand-ins for missing dates, the
// completion stamps) does not depend on when a test runs.
#pragma once

#include <chrono>
#include <functional>

#include "store/instant.h"

namespace corvane {

// Answers the current instant; may be called from any thread.
using Clock = std::function<Instant()>;

// The system's wall clock, to the second.
inline Clock systemClock() {
  return [] {
    return std::chrono::time_point_cast<std::chrono::seconds>(
        std::chrono::system_clock::now());
  };
}

}  // namespace corvane
