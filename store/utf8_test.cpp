#include "store/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf8Test, ValidTextUnchanged) {
  const std::string texts[] = {
      "",
      "plain ASCII",
      "caf\xC3\xA9",              // two bytes
      "\xE2\x82\xAC 5",           // euro sign, three bytes
      "\xF0\x9F\x8C\xB1 sprout",  // four bytes
      "\xEF\xBF\xBD already",     // U+FFFD itself
      "\xF4\x8F\xBF\xBF",         // U+10FFFF, the last code point
      std::string("nul\0inside", 10),
  };
  for (const auto& text : texts) {
    EXPECT_TRUE(isValidUtf8(text)) << text;
    EXPECT_EQ(repairUtf8(text), text) << text;
  }
}

TEST(Utf8Test, InvalidSequencesBecomeReplacementCharacters) {
  // Each maximal invalid part becomes one U+FFFD, the rest is kept.
  struct Case {
    std::string input;
    std::string repaired;
  } cases[] = {
      {"a\xE2\x82", "a" + kFffd},               // truncated at the end
      {"\xE2\x82z", kFffd + "z"},               // truncated before ASCII
      {"\xC3", kFffd},                          // lead byte alone
      {"x\x80y", "x" + kFffd + "y"},            // lone continuation byte
      {"\xBF\xBF", kFffd + kFffd},              // two of them
      {"\xC0\xAF", kFffd + kFffd},              // overlong "/"
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},  // overlong, three bytes
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},  // surrogate U+D800
      {"\xED\xBF\xBF", kFffd + kFffd + kFffd},  // surrogate U+DFFF
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // past U+10FFFF
      {"\xFF", kFffd},
      {"\xFE\xFE", kFffd + kFffd},
      {"caf\xE9 ok \xC3\xA9", "caf" + kFffd + " ok \xC3\xA9"},  // Latin-1
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(isValidUtf8(c.input)) << c.input;
    std::string repaired = repairUtf8(c.input);
    EXPECT_EQ(repaired, c.repaired) << c.input;
    EXPECT_TRUE(isValidUtf8(repaired)) << c.input;
  }
}

TEST(Utf8Test, MixedTextKeepsEveryValidCharacter) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    input += "\xC3\xA9\x80\xF0\x9F\x8C\xB1";
    expected += "\xC3\xA9" + kFffd + "\xF0\x9F\x8C\xB1";
  }
  EXPECT_EQ(repairUtf8(input), expected);
}

TEST(Utf8Test, LowercasedAsciiLeavesOtherBytes) {
  EXPECT_EQ(lowercasedAscii("DeadLine"), "deadline");
  EXPECT_EQ(lowercasedAscii("\xC3\x89T\xC3\x89"), "\xC3\x89t\xC3\x89");
  EXPECT_EQ(lowercasedAscii("@[`{"), "@[`{");
}

}  // namespace
}  // namespace corvane
