#include "app/json_writer.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(JsonWriterTest, EscapesTable) {
  struct Case {
    std::string text;
    std::string written;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a/b", "\"a\\/b\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"line\nbreak\ttab\rcr", "\"line\\nbreak\\ttab\\rcr\""},
      {std::string("nul\0byte", 8), "\"nul\\u0000byte\""},
      {"\x01\x1f", "\"\\u0001\\u001f\""},
      {"\b\f", "\"\\b\\f\""},
      {"Grüße 日本 😀", "\"Grüße 日本 😀\""},
      {"\x7f", "\"\x7f\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(writePrettyJson(JsonValue(c.text)), c.written) << c.text;
}

TEST(JsonWriterTest, PrettyLayout) {
  JsonValue value = JsonValue::object();
  value["success"] = true;
  value["data"] =
      JsonValue::array({JsonValue::object({{"n", 1}}), nullptr, false});
  value["empty"] = JsonValue::array();
  value["none"] = JsonValue::object();
  EXPECT_EQ(*writePrettyJson(value),
            "{\n"
            "  \"success\" : true,\n"
            "  \"data\" : [\n"
            "    {\n"
            "      \"n\" : 1\n"
            "    },\n"
            "    null,\n"
            "    false\n"
            "  ],\n"
            "  \"empty\" : [],\n"
            "  \"none\" : {}\n"
            "}");
}

TEST(JsonWriterTest, KeysKeepInsertionOrder) {
  JsonValue value = JsonValue::object();
  value["z"] = 1;
  value["a"] = -2;
  EXPECT_EQ(*writePrettyJson(value), "{\n  \"z\" : 1,\n  \"a\" : -2\n}");
}

TEST(JsonWriterTest, RefusesWhatHasNoJsonText) {
  EXPECT_FALSE(writePrettyJson(JsonValue("bad \xff byte")));
  JsonValue nested = JsonValue::object();
  nested["k\xc3"] = 1;  // a key cut in the middle of a character
  EXPECT_FALSE(writePrettyJson(nested));
  EXPECT_FALSE(writePrettyJson(JsonValue(std::nan(""))));
}

TEST(JsonWriterTest, LargeAnswersGoOutInBoundedPieces) {
  JsonValue records = JsonValue::array();
  for (int i = 0; i < 3000; ++i)
    records.push_back(
        JsonValue::object({{"title", "Reminder " + std::to_string(i)},
                           {"notes", "a/b \"quoted\""}}));
  records.push_back(std::string(300 << 10, 'x'));  // one text over a piece
  records.push_back("tail");
  std::vector<std::string> pieces;
  ASSERT_TRUE(writePrettyJson(
      records, [&](std::string_view piece) { pieces.emplace_back(piece); }));
  ASSERT_GT(pieces.size(), 3u);
  std::string joined;
  for (const auto& piece : pieces) {
    EXPECT_FALSE(piece.empty());
    // No piece but the long text itself is larger than the writer's buffer.
    if (piece.find("xxxx") == std::string::npos) {
      EXPECT_LE(piece.size(), 64u << 10);
    }
    joined += piece;
  }
  EXPECT_EQ(nlohmann::ordered_json::parse(joined), records);
  EXPECT_EQ(joined, *writePrettyJson(records));
  EXPECT_NE(joined.find("\"a\\/b \\\"quoted\\\"\""), std::string::npos);
}

TEST(JsonWriterTest, WritesNothingWhenAnyPartIsUnwritable) {
  JsonValue records = JsonValue::array();
  for (int i = 0; i < 5000; ++i)
    records.push_back("fine text, long enough to fill");
  records.push_back("bad \xff byte at the very end");
  int pieces = 0;
  EXPECT_FALSE(writePrettyJson(records, [&](std::string_view) { ++pieces; }));
  EXPECT_EQ(pieces, 0);
}

}  // namespace
}  // namespace corvane
