#include "store/rgb_color.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

TEST(ParseColorTest, Forms) {
  const double kHalf = 128 / 255.0;
  struct Case {
    std::string text;
    std::optional<RgbColor> color;
  } cases[] = {
      {"#FF8000", RgbColor{1, kHalf, 0}},
      {"#FF8000FF", RgbColor{1, kHalf, 0}},
      {"#FF800000", RgbColor{1, kHalf, 0}},  // alpha is ignored
      {"#ff8000", RgbColor{1, kHalf, 0}},
      {"#fF80a0", RgbColor{1, kHalf, 160 / 255.0}},
      {"#000000", RgbColor{0, 0, 0}},
      {"#FFFFFF", RgbColor{1, 1, 1}},
      {"#0A141E", RgbColor{10 / 255.0, 20 / 255.0, 30 / 255.0}},
      {"#FFF", std::nullopt},
      {"FF8000", std::nullopt},
      {"FF8000FF", std::nullopt},
      {"#GG0000", std::nullopt},
      {"#FF800G", std::nullopt},
      {"#FF8000F", std::nullopt},
      {"#FF8000FFF", std::nullopt},
      {"#FF 000", std::nullopt},
      {"#+F8000", std::nullopt},
      {" #FF8000", std::nullopt},
      {"#", std::nullopt},
      {"", std::nullopt},
      {"rgb(255,128,0)", RgbColor{1, kHalf, 0}},
      {"rgba(255,128,0,0.5)", RgbColor{1, kHalf, 0}},
      {"rgb(0,0,0)", RgbColor{0, 0, 0}},
      {"rgb(256,0,0)", std::nullopt},
      {"rgb(-1,0,0)", std::nullopt},
      {"rgb(255,128)", std::nullopt},
      {"rgb(255,128,0,1)", std::nullopt},
      {"rgba(255,128,0)", std::nullopt},
      {"rgba(255,128,0,x)", std::nullopt},
      {"rgb( 255,128,0)", std::nullopt},
      {"rgb(255,128,0", std::nullopt},
      {"rgb(255,128,0) ", std::nullopt},
      {"RGB(255,128,0)", std::nullopt},
  };
  for (const auto& c : cases) {
    auto color = parseColor(c.text);
    ASSERT_EQ(color.has_value(), c.color.has_value()) << c.text;
    if (!color) continue;
    EXPECT_NEAR(color->red, c.color->red, 1e-9) << c.text;
    EXPECT_NEAR(color->green, c.color->green, 1e-9) << c.text;
    EXPECT_NEAR(color->blue, c.color->blue, 1e-9) << c.text;
  }
  EXPECT_NEAR(parseColor("#FF8000")->green, 0.50196, 1e-5);
}

}  // namespace
}  // namespace corvane
