#include "lists/color_text.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(ColorTextTest, ComponentsTable) {
  struct Case {
    RgbColor color;
    const char* text;
  } cases[] = {
      {{1.0, 0.5, 0.0}, "#FF8000"},  // 127.5 rounds up to 128
      {{0.2, 0.2, 0.2}, "#333333"},
      {{0, 0, 0}, "#000000"},
      {{1, 1, 1}, "#FFFFFF"},
      {{10 / 255.0, 171 / 255.0, 205 / 255.0}, "#0AABCD"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(hexFromColor(c.color), c.text)
        << c.color.red << " " << c.color.green << " " << c.color.blue;
}

TEST(ColorTextTest, NoColorInherits) {
  EXPECT_EQ(hexFromColor(std::nullopt), "inherit");
}

}  // namespace
}  // namespace corvane
