// Instants in time as the store hands them out: whole seconds since the
// Unix epoch, in UTC.
#pragma once

#include <chrono>

namespace corvane {

using Instant = std::chrono::sys_seconds;

}  // namespace corvane
