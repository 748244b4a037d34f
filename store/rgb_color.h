// The colour of a list as the stores keep it in text.
#pragma once

#include <optional>
#include <string_view>

#include "store/reminder_list.h"

namespace corvane {

// "#RRGGBB" and "#RRGGBBAA" (hex digits of either case), as vdirs and EDS
// write colours, and "rgb(r,g,b)" and "rgba(r,g,b,a)" (each of r, g, b in
// 0..255), as GTK writes them; alpha is ignored. Anything else has none.
std::optional<RgbColor> parseColor(std::string_view text);

}  // namespace corvane
