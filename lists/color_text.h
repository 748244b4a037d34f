// A list colour as web-style text: "#RRGGBB", or "inherit" without one.
#pragma once

#include <optional>
#include <string>

#include "store/reminder_list.h"

namespace corvane {

// Each component times 255, rounded half away from zero, not clamped.
std::string hexFromColor(const std::optional<RgbColor>& color);

}  // namespace corvane
