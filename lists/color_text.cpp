#include "lists/color_text.h"

#include <cmath>
#include <cstdio>

namespace corvane {

std::string hexFromColor(const std::optional<RgbColor>& color) {
  if (!color) return "inherit";
  char text[64];
  std::snprintf(
      text, sizeof text, "#%02lX%02lX%02lX", std::lround(color->red * 255.0),
      std::lround(color->green * 255.0), std::lround(color->blue * 255.0));
  return text;
}

}  // namespace corvane
