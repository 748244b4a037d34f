#include "store/rgb_color.h"

#include <charconv>

namespace corvane {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<RgbColor> fromHex(std::string_view digits) {
  int values[3] = {0, 0, 0};
  for (size_t i = 0; i < digits.size(); i += 2) {
    int high = hexDigit(digits[i]), low = hexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    if (i < 6) values[i / 2] = high * 16 + low;
  }
  return RgbColor{values[0] / 255.0, values[1] / 255.0, values[2] / 255.0};
}

// "r,g,b" or, with `alpha`, "r,g,b,a": whole numbers 0..255 and, last, a
// number whose value does not matter but which must be one.
std::optional<RgbColor> fromComponents(std::string_view inside, bool alpha) {
  int values[3];
  const char* at = inside.data();
  const char* end = at + inside.size();
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (at == end || *at != ',') return std::nullopt;
      ++at;
    }
    auto [next, error] = std::from_chars(at, end, values[i]);
    if (error != std::errc() || values[i] < 0 || values[i] > 255)
      return std::nullopt;
    at = next;
  }
  if (alpha) {
    if (at == end || *at != ',') return std::nullopt;
    double ignored;
    auto [next, error] = std::from_chars(at + 1, end, ignored);
    if (error != std::errc()) return std::nullopt;
    at = next;
  }
  if (at != end) return std::nullopt;
  return RgbColor{values[0] / 255.0, values[1] / 255.0, values[2] / 255.0};
}

}  // namespace

std::optional<RgbColor> parseColor(std::string_view text) {
  if ((text.size() == 7 || text.size() == 9) && text[0] == '#')
    return fromHex(text.substr(1));
  if (!text.ends_with(')')) return std::nullopt;
  text.remove_suffix(1);
  if (text.starts_with("rgb(")) return fromComponents(text.substr(4), false);
  if (text.starts_with("rgba(")) return fromComponents(text.substr(5), true);
  return std::nullopt;
}

}  // namespace corvane
